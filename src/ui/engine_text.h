#pragma once

#include <string>

#include <QString>

namespace brisk {

// Qt line breaks from the engine's "\r\n" (a lone "\r" counts as a break too).
QString fromEngineText(const std::string& text);

}  // namespace brisk
