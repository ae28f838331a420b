#pragma once
// The catalogue fills a drop-down list without knowing the UI toolkit.

#include <string>

class IComboBox {
public:
    virtual ~IComboBox() = default;
    virtual void AddString(const std::string& text) = 0;  // UTF-8
};
