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

namespace {

bool isUuid(std::string_view text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        const bool hex = (text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f') ||
                         (text[i] >= 'A' && text[i] <= 'F');
        if (dash ? text[i] != '-' : !hex)
            return false;
    }
    return true;
}

} // namespace

std::string transcriptSessionName(std::string_view path, bool codex)
{
    std::string stem = fileStem(path);
    if (codex && stem.starts_with("rollout-") && stem.size() > 36 + 8 &&
        isUuid(std::string_view(stem).substr(stem.size() - 36)))
        stem.erase(0, stem.size() - 36);
    return stem;
}

} // namespace loomwatch::model
