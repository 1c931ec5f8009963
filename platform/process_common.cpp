#include "platform/process.h"

namespace platform {

std::string parent_folder(std::string_view path) {
    const auto last = path.find_last_of(path_separator);
    if (last == std::string_view::npos) return {};
    return std::string(path.substr(0, last));
}

std::string join_path(std::string_view folder, std::string_view relative) {
    std::string joined(folder);
    joined += path_separator;
    for (char c : relative) joined += (c == '/') ? path_separator : c;
    return joined;
}

}  // namespace platform
