// The page of the service: one static page (HTML, style sheet, script) held
// in the program, so that the server serves nothing from its file system.
#pragma once

#include <string>
#include <vector>

struct pageAsset {
    const char* path;         // request path
    const char* contentType;
    std::string content;
};

// The page at "/" and the assets it loads.
const std::vector<pageAsset>& pageAssets();

// Score bands the page colours words by: at least GOOD_SCORE is good, at
// least FAIR_SCORE fair, anything lower poor; a negative score is unscored.
constexpr double PAGE_GOOD_SCORE = 80;
constexpr double PAGE_FAIR_SCORE = 60;
