// Helpers of the assessment tests: phones and nodes built in place, the message
// of a raised error, and captured standard output.
#pragma once

#include "decoder/cmResult.h"
#include "run/utility.h"
#include "testUtil.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

inline cmPhone scorePhone(const std::string& name, int32_t startFrame, int32_t endFrame) {
    cmPhone phone;
    phone.name = name;
    phone.startFrame = startFrame;
    phone.endFrame = endFrame;
    return phone;
}

// A node spanning its phones (or the given frames when it has none).
inline cmNode scoreNode(const std::string& name, std::vector<cmPhone> phones, int32_t startFrame = 0,
                        int32_t endFrame = -1) {
    cmNode node;
    node.name = name;
    node.phones = std::move(phones);
    node.startFrame = node.phones.empty() ? startFrame : node.phones.front().startFrame;
    node.endFrame = node.phones.empty() ? endFrame : node.phones.back().endFrame;
    return node;
}

// The message with every source line number ("line 123") replaced by "line N".
inline std::string withoutLine(const std::string& message) {
    std::string out;
    for (size_t i = 0; i < message.size();) {
        if (message.compare(i, 5, "line ") == 0 && i + 5 < message.size() &&
            std::isdigit(static_cast<unsigned char>(message[i + 5]))) {
            out += "line N";
            i += 5;
            while (i < message.size() && std::isdigit(static_cast<unsigned char>(message[i]))) ++i;
        } else {
            out += message[i++];
        }
    }
    return out;
}

// What the call prints on standard output.
inline std::string printedBy(const std::function<void()>& call) {
    testing::internal::CaptureStdout();
    try {
        call();
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    return testing::internal::GetCapturedStdout();
}
