// The pronunciation dictionary (pam): "word<white>model model ..." lines
// resolved against a fixed model set.
#include "decoder/macro.h"
#include "fuzzFixtures.h"
#include "fuzzSupport.h"
#include "lexicon/dict.h"
#include "run/utility.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzSupport::setUp();
    static const macroClass models = fuzzFixtures::modelSet({"a+b", "b+sil", "c+a", "sil", "sp"});
    std::string path = fuzzSupport::writeInput("dict.pam", data, size);
    dictClass dict;
    try {
        dict.pronDictRead(path, models);
        for (const pronEntry& entry : dict.m_pronDict) {
            fuzzSupport::require(!entry.word.empty() && entry.word.size() <= MAX_PAM_FIELD_LEN, "a word of 1 to 999 bytes");
            fuzzSupport::require(!entry.modelIndices.empty(), "a pronunciation");
            for (int32_t m : entry.modelIndices)
                fuzzSupport::require(m >= -1 && m < models.modelNum, "a model index or -1");
            dict.pronDictFind(entry.word);
        }
    } catch (const recogError& e) {
        fuzzSupport::reported(e);
    }
    return 0;
}
