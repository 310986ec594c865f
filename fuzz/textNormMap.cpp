// The text normalization map ("pattern#replacement#operation" lines), applied
// to fixed English and Chinese texts.
#include "fuzzSupport.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    std::string path = fuzzSupport::writeInput("norm.tnm", data, size);
    textClass text;
    try {
        text.textNormMapRead(path, '#', text.m_textNormSp);
        for (const textNormRule& rule : text.m_textNormSp) {
            char op = rule.operation.empty() ? '\0' : rule.operation[0];
            fuzzSupport::require(!((op == '$' || op == '^') && rule.pattern.empty()), "strip rules have a pattern");
        }
        recogParam param;
        param.language = "english";
        text.m_txtVs = {"Hello, World!\tfirst", "  the  END.  ", "", "a#b"};
        text.textsNormalize(param);
        fuzzSupport::require(text.m_txtVsNormalized.size() == text.m_txtVs.size(), "one normalized text per text");
        param.language = "chinese";
        text.m_txtVs = {"\xA7\x41\xA6\x6E\xA1\x43", "\xA1\x40\xA7\x41"};
        text.textsNormalize(param);
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
