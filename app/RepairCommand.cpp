#include "app/RepairCommand.h"

#include <cstdio>
#include <cstring>

#include "avi/AviRepair.h"
#include "base/RecordingContainer.h"

namespace {

void Say(FILE* to, const std::string& line) {
    std::fputs((line + "\n").c_str(), to);
    std::fflush(to);
}

}  // namespace

std::optional<int> RunRepairCommand(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--repair") != 0) return std::nullopt;
    if (argc != 3) {
        Say(stderr, "用法：lumora --repair 文件");
        return kRepairRefused;
    }
    const std::string path = argv[2];
    if (const MediaSubtype container = ContainerOfPath(path); !NeedsRepairWhenUnfinished(container)) {
        Say(stdout, std::string(ContainerName(container)) + " 文件不需要修复（中断之前录下的内容都能播放）：" + path);
        return kRepairNotNeeded;
    }
    const RepairReport report = RepairRecording(path);
    switch (report.status) {
    case RepairStatus::Repaired:
        Say(stdout, "已修复：" + path + "，" + RecordingLengthText(report.seconds));
        return kRepairDone;
    case RepairStatus::NothingToDo:
        Say(stdout, "文件完好，不需要修复：" + path);
        return kRepairNotNeeded;
    case RepairStatus::NotOurs:
        Say(stderr, "不是本程序录的 AVI 文件：" + path + "（" + report.reason + "）");
        return kRepairRefused;
    case RepairStatus::Failed: break;
    }
    Say(stderr, "无法修复：" + path + "（" + report.reason + "），文件保持原样");
    return kRepairRefused;
}
