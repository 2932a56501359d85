#pragma once

#include <string>

namespace quarn::tool {

// Why the SDK refused to open `path`, from DotProductAPI::open's status: "no such file",
// "not a scan file", ... Empty when it opens.
std::string scanOpenProblem(const std::string& path);

// The same for a status the SDK's open already returned.
std::string describeOpenStatus(const std::string& path, int status);

}  // namespace quarn::tool
