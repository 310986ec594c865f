// Subcommands of the companion program recognize-tool. Each takes the
// arguments after the subcommand name and returns the exit status: 0 when
// done, 2 for a usage error; errors are reported (recogError), which
// recognize-tool's main turns into status 1.
#pragma once

#include <string>
#include <vector>

int toolFeatures(const std::vector<std::string>& args);
int toolConvertModel(const std::vector<std::string>& args);
int toolTrain(const std::vector<std::string>& args);
int toolBulk(const std::vector<std::string>& args);
int toolCalibrate(const std::vector<std::string>& args);
