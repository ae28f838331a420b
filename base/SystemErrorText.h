#pragma once
// The reason of a failed system call in the program's language: the C
// library's own text is English wherever no Chinese locale is installed.

#include <string>

// Simplified Chinese for the errors a user meets with files and devices;
// any other code as "系统错误 <n>（<the C library's text>）".
std::string SystemErrorText(int code);
