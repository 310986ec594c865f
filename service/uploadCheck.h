// Checks of an uploaded recording before any reader sees it: which reader
// takes it (the readers choose by file extension, so the upload is stored
// under the extension of its content), whether that reader can deliver its
// format, and how long it lasts. An FLV upload is walked tag by tag as the
// FLV reader walks it, because that reader ends the process on a corrupt
// container: only a container it accepts is passed on.
#pragma once

#include <cstdint>
#include <string>

// What the check found: status 0 and the extension to store the upload
// under, or the HTTP status (400, 413, 415), an error code and a message.
struct uploadCheck {
    int status = 0;
    std::string code;
    std::string message;
    std::string extension;  // ".wav", ".flv" or ".raw"
    double seconds = 0;     // duration the container declares
};

// Checks an upload. format is the request's format field: "" (the content
// decides: RIFF WAVE or FLV), "wav", "flv" or "raw" (headerless 16-bit
// 16 kHz samples). maxSeconds bounds the duration.
uploadCheck checkUpload(const std::string& bytes, const std::string& format, double maxSeconds);

// "" when the FLV reader would read the bytes through, else why it would
// stop or end the process: no FLV version 1 header, a previous-tag size that
// does not match the tag before it, a nonzero stream identifier, a tag that
// runs past the end, a first audio format that is not Nellymoser, an audio
// format that changes midstream. audioSeconds is set to the duration of the
// Nellymoser blocks the reader would decode (0 when there is no audio).
std::string flvContainerProblem(const std::string& bytes, double& audioSeconds, bool& formatUnsupported);
