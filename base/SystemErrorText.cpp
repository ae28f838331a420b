#include "base/SystemErrorText.h"

#include <cerrno>
#include <cstring>

std::string SystemErrorText(int code)
{
    switch (code) {
    case EACCES:
    case EPERM: return "没有权限";
    case ENOENT: return "文件或文件夹不存在";
    case ENOTDIR: return "路径中有一部分不是文件夹";
    case EISDIR: return "它是一个文件夹";
    case EEXIST: return "文件已存在";
    case ENOSPC: return "磁盘空间不足";
    case EDQUOT: return "超出磁盘配额";
    case EROFS: return "文件系统是只读的";
    case ENAMETOOLONG: return "文件名太长";
    case ELOOP: return "符号链接太多或它是一个符号链接";
    case EFBIG: return "文件太大";
    case EIO: return "输入/输出错误";
    case EBUSY: return "设备或资源忙";
    case ETXTBSY: return "文件正被使用";
    case EMFILE:
    case ENFILE: return "打开的文件太多";
    case ENOMEM: return "内存不足";
    case ENXIO:
    case ENODEV: return "设备不存在";
    case EAGAIN: return "资源暂时不可用";
    case EINVAL: return "参数无效";
    case ENOTEMPTY: return "文件夹不是空的";
    case EXDEV: return "不能跨文件系统移动";
    case ESTALE: return "网络文件句柄已失效";
    default: return "系统错误 " + std::to_string(code) + "（" + std::strerror(code) + "）";
    }
}
