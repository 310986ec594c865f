// Subcommands of the companion program recognize-tool. Each takes the
// arguments after the subcommand name and returns the exit status.
#pragma once

#include <string>
#include <vector>

int toolFeatures(const std::vector<std::string>& args);
int toolConvertModel(const std::vector<std::string>& args);
int toolTrain(const std::vector<std::string>& args);
