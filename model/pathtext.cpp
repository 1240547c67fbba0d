#include "model/pathtext.h"

namespace loomwatch::model {

std::string lastPathComponent(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    if (path == "/")
        return std::string(path);
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string fileStem(std::string_view path)
{
    std::string name = lastPathComponent(path);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && dot + 1 < name.size())
        name.resize(dot);
    return name;
}

} // namespace loomwatch::model
