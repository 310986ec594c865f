// FLV input: the Nellymoser audio track of an FLV file as samples.
//
// The container is parsed here; each 64-byte Nellymoser block is decoded by
// libavcodec into 256 samples. libavcodec and libavutil are not linked: they
// are opened by soname (dlopen) at the first FLV file a process decodes, so a
// process that reads only WAV or raw audio never maps them. Unlike every other reader, a corrupt FLV file
// or a stream that is not Nellymoser ends the process with status -1 (255)
// after a message on standard error, without an error log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Bytes of one Nellymoser block and the samples it decodes to.
constexpr int32_t NELLY_BLOCK_BYTES = 64;
constexpr int32_t NELLY_BLOCK_SAMPLES = 256;

// Reads the audio of an FLV file as 32-bit samples of 16-bit range.
// sampleRate and bitsPerSample are set from the stream (0 when the file holds
// no audio tag). Failures are those of decodeFlvAudio.
std::vector<int32_t> readFlvAudioFile(const std::string& path, int32_t& sampleRate, int32_t& bitsPerSample);

// Decodes the Nellymoser audio of an FLV file into 16-bit samples, all blocks
// of all audio tags as one sequence. The out-values come from the first audio
// tag's flags byte: rate in Hz, width 16 or 8 (the stored flag; the samples are
// always 16-bit) and channel count; before any audio tag they are 0, 0 and 1.
//
// Returns no samples, after a message, when:
//   the path is empty            "flv_flvFile is NULL: <system error>" on stderr
//   the file cannot be read      "flv_fopen: <system error>" on stderr
//   the file is empty            "Warning: flvFileSize=0! (line N of flvimpl)" on stdout
//   memory runs out              "flv_malloc: <system error>" on stderr
//   the header is not "FLV" v1   "Unknown file format!" on stderr
// Ends the process with status -1 after "Corrupt file (<reason>)" on stderr for
// a previous-tag size that does not match the tag before it ("tag size check
// failed"), a nonzero stream identifier ("tag padding ignored"), an audio tag
// whose flags byte differs from the first one ("changed audio format
// midstream") and a tag that runs past the end of the file ("tag runs past the
// end of the file"); and after "stream is not Nellymoser" (parseAudioFlags).
// Audio data after the flags byte is decoded in whole blocks; a remainder
// shorter than a block is ignored. Libraries that cannot be loaded (see
// nellyCodecLoadError, whose message is reported) and a decoder that libavcodec
// cannot provide are reported through reportError.
std::vector<int16_t> decodeFlvAudio(const std::string& path, int32_t& sampleRate, int32_t& bitsPerSample,
                                    int32_t& channelCount);

// Reads the stream format from an FLV audio flags byte. Sound format 5 is
// mono 8000 Hz; sound format 6 takes the rate (5500, 11025, 22050, 44100 Hz)
// from bits 3-2 and the channel count from bit 0. Bit 1 gives the width (16 or
// 8) for both. Any other format prints "stream is not Nellymoser" on stderr and
// ends the process with status -1.
void parseAudioFlags(uint8_t flags, int32_t& sampleRate, int32_t& bitsPerSample, int32_t& channelCount);

// One decoded sample (full scale 1.0) as a 16-bit value: scaled by 32768,
// 32767 or more gives 32767, -32768 or less gives -32768, anything else is
// truncated toward zero.
int16_t nellySampleToInt16(float value);

// The sonames of the libraries the Nellymoser decoder is loaded from, each
// list tried in order.
struct nellyCodecSonames {
    std::vector<std::string> avutil;
    std::vector<std::string> avcodec;
};

// The sonames decodeFlvAudio tries: for each library the major version of the
// headers this program was compiled with (their struct layouts are the ones
// the decoder uses), then the unversioned development link.
nellyCodecSonames defaultNellyCodecSonames();

// Opens libavutil, then libavcodec, each by the first of its sonames that
// loads, checks that their major versions are those of the headers and
// resolves every function the decoder calls, then closes them again. Returns
// "" when all of that succeeds, else the message (naming the library, the
// sonames tried or the missing function) that decodeFlvAudio reports when it
// fails with the default sonames.
std::string nellyCodecLoadError(const nellyCodecSonames& sonames);
