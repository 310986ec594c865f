#include "decoder/xmlWriter.h"

#include "decoder/macro.h"
#include "decoder/scoring.h"
#include "run/utility.h"

#include <cstdio>
#include <vector>

namespace {

const char* const UNIT = "mlf";
const char* const VERSION_TEXT = "version 1.4 (2010/06/24)";
// Frames per second of the times in the document.
constexpr double FRAMES_PER_SECOND = 100.0;

int32_t byteLength(const std::string& s) { return static_cast<int32_t>(s.size()); }

double startSeconds(int32_t startFrame) { return startFrame / FRAMES_PER_SECOND; }
double endSeconds(int32_t endFrame) { return (endFrame + 1) / FRAMES_PER_SECOND; }

// The line's comment when it is the first occurrence of the field, else a bare newline.
void endLine(std::string& out, bool first, const char* comment) { out += first ? comment : "\n"; }

// Values of a list element: the first as "%g", each further one as " %g".
void appendValues(std::string& out, const std::vector<float>& values) {
    for (size_t i = 0; i < values.size(); ++i)
        out += formatString(i == 0 ? "%g" : " %g", static_cast<double>(values[i]));
}

// One element holding a list of values, e.g. <pitch ... size="1 n">v v v</pitch>.
void appendList(std::string& out, const char* indent, const char* tag, int32_t idx, const std::vector<float>& values) {
    out += formatString("%s<%s idx=\"%d\" type=\"double\" size=\"1 %zu\">", indent, tag, idx, values.size());
    appendValues(out, values);
    out += formatString("</%s>", tag);
}

void appendCell(std::string& out, const char* tag, const std::vector<std::string>& items, bool countCharacters) {
    out += formatString("<%s idx=\"1\" type=\"cell\" size=\"1 %zu\">\n", tag, items.size());
    for (size_t k = 0; k < items.size(); ++k) {
        int32_t size = countCharacters ? doubleByteCharCount(items[k]) : byteLength(items[k]);
        out +=
            formatString("\t<item idx=\"%zu\" type=\"char\" size=\"1 %d\">%s</item>\n", k + 1, size, items[k].c_str());
    }
    out += formatString("</%s>\n", tag);
}

void appendPhone(std::string& out, const cmPhone& phone, int32_t j, bool first, const std::vector<std::string>& names) {
    out += formatString("\t\t\t<name idx=\"%d\" type=\"char\" size=\"1 %d\">%s</name>", j, byteLength(phone.name),
                        phone.name.c_str());
    endLine(out, first, "<!--Phonetic alphabets for the node-->\n");
    out += formatString("\t\t\t<index idx=\"%d\" type=\"uint16\" size=\"1 1\">%d</index>", j, phone.modelIdx);
    endLine(out, first, "<!--Model index within the macro file-->\n");
    out += formatString("\t\t\t<interval idx=\"%d\" type=\"double\" size=\"1 2\">%g %g</interval>", j,
                        startSeconds(phone.startFrame), endSeconds(phone.endFrame));
    endLine(out, first, "<!--Time span of the phone, in seconds-->\n");
    out += formatString("\t\t\t<timberScore idx=\"%d\" type=\"double\" size=\"1 1\">%g</timberScore>", j,
                        static_cast<double>(phone.timberScore));
    endLine(out, first, "<!--Timber score of the node (-1 if the node is sil/sp)-->\n");
    out +=
        formatString("\t\t\t<pitched idx=\"%d\" type=\"double\" size=\"1 1\">%d</pitched>\n", j, phone.pitched ? 1 : 0);
    appendList(out, "\t\t\t", "pitch", j, phone.pitch);
    endLine(out, first, "<!--Pitch of the node (0 if no pitch at all)-->\n");
    appendList(out, "\t\t\t", "volume", j, phone.volume);
    endLine(out, first, "<!--Volume of the node (0 if no pitch at all)-->\n");
    out += formatString("\t\t\t<cumLogLike idx=\"%d\" type=\"double\" size=\"1 1\">%g</cumLogLike>", j,
                        static_cast<double>(phone.cumLogLike));
    endLine(out, first, "<!--Cumulated log probability of the phone-->\n");
    out += formatString("\t\t\t<rankRatio idx=\"%d\" type=\"double\" size=\"1 1\">%g</rankRatio>", j,
                        static_cast<double>(phone.rankRatio));
    endLine(out, first, "<!--Rank ratio of the phone-->\n");
    out += formatString("\t\t\t<timeRatio idx=\"%d\" type=\"double\" size=\"1 1\">%g</timeRatio>", j,
                        static_cast<double>(phone.timeRatio));
    endLine(out, first, "<!--Time ratio of the phone-->\n");

    std::string indices, joinedNames, logLikes;
    for (size_t c = 0; c < phone.competingModelIdx.size(); ++c) {
        int32_t idx = phone.competingModelIdx[c];
        if (idx < 0 || static_cast<size_t>(idx) >= names.size())
            reportError(
                formatString("Error: competing model %d of phone \"%s\" is not in the %zu models "
                             "(line %d of file %s)",
                             idx, phone.name.c_str(), names.size(), __LINE__, UNIT));
        const char* sep = c == 0 ? "" : " ";
        indices += formatString("%s%d", sep, idx);
        joinedNames += formatString("%s%s", sep, names[static_cast<size_t>(idx)].c_str());
    }
    for (size_t c = 0; c < phone.competingLogLike.size(); ++c)
        logLikes += formatString("%s%g", c == 0 ? "" : " ", static_cast<double>(phone.competingLogLike[c]));
    out += formatString("\t\t\t<competingModelIndex idx=\"%d\" type=\"uint16\" size=\"1 %zu\">", j,
                        phone.competingModelIdx.size());
    out += indices + "</competingModelIndex>";
    endLine(out, first, "<!--Indices of the competing models of the phone-->\n");
    out +=
        formatString("\t\t\t<competingModelName idx=\"%d\" type=\"char\" size=\"1 %d\">", j, byteLength(joinedNames));
    out += joinedNames + "</competingModelName>";
    endLine(out, first, "<!--Name of the competing models of the phone-->\n");
    out += formatString("\t\t\t<competingModelLogLike idx=\"%d\" type=\"double\" size=\"1 %zu\">", j,
                        phone.competingLogLike.size());
    out += logLikes + "</competingModelLogLike>";
    endLine(out, first, "<!--Log likelihoods of the competing models of the phone-->\n");
    out += formatString("\t\t\t<timberScores idx=\"%d\" type=\"double\" size=\"1 4\">%g %g %g %g</timberScores>", j,
                        static_cast<double>(phone.timberScores[0]), static_cast<double>(phone.timberScores[1]),
                        static_cast<double>(phone.timberScores[2]), static_cast<double>(phone.timberScores[3]));
    endLine(out, first, "<!--All timber scores of the phone (primarily for debugging)-->\n");
}

void appendNode(std::string& out, const cmNode& node, int32_t k, const std::string& language,
                const std::vector<std::string>& names) {
    const bool first = k == 1;
    out += formatString("\t\t<name idx=\"%d\" type=\"char\" size=\"1 %d\">%s</name>", k, byteLength(node.name),
                        node.name.c_str());
    endLine(out, first, "<!--Phonetic alphabets of the node-->\n");
    out += formatString("\t\t<interval idx=\"%d\" type=\"double\" size=\"1 2\">%g %g</interval>", k,
                        startSeconds(node.startFrame), endSeconds(node.endFrame));
    endLine(out, first, "<!--Time span of the node, in seconds-->\n");
    int32_t textSize = language == "chinese" ? byteLength(node.text) / 2 : byteLength(node.text);
    out += formatString("\t\t<text idx=\"%d\" type=\"char\" size=\"1 %d\">%s</text>", k, textSize, node.text.c_str());
    endLine(out, first, "<!--Text of the node (empty if the node is sil/sp)-->\n");
    out += formatString("\t\t<timberScore idx=\"%d\" type=\"double\" size=\"1 1\">%g</timberScore>", k,
                        static_cast<double>(node.timberScore));
    endLine(out, first, "<!--Score of the node (-1 if the node is sil/sp)-->\n");
    appendList(out, "\t\t", "pitch", k, node.pitch);
    endLine(out, first, "<!--Pitch of the node (0 if no pitch at all)-->\n");
    appendList(out, "\t\t", "volume", k, node.volume);
    endLine(out, first, "<!--Volume of the node (0 if not computed)-->\n");
    out += formatString("\t\t<timberScores idx=\"%d\" type=\"double\" size=\"1 4\">%g %g %g %g</timberScores>", k,
                        static_cast<double>(node.timberScores[0]), static_cast<double>(node.timberScores[1]),
                        static_cast<double>(node.timberScores[2]), static_cast<double>(node.timberScores[3]));
    endLine(out, first, "<!--All timber scores of the node (primarily for debugging)-->\n");
    out += formatString("\t\t<phone idx=\"%d\" type=\"struct\" size=\"1 %zu\">", k, node.phones.size());
    endLine(out, first, "<!--List of phones in the node-->\n");
    for (size_t j = 0; j < node.phones.size(); ++j)
        appendPhone(out, node.phones[j], static_cast<int32_t>(j + 1), first && j == 0, names);
    out += "\t\t</phone>\n";
}

}  // namespace

int32_t doubleByteCharCount(const std::string& text) {
    int32_t count = 0;
    for (size_t i = 0; i < text.size(); ++count) i += static_cast<unsigned char>(text[i]) >= 128 ? 2 : 1;
    return count;
}

std::string xmlDocument(const cmResult& result, const macroClass& models, const std::string& language) {
    std::vector<std::string> names;
    models.getModelNames(names);
    const bool big5 = language == "chinese" || language == "taiwanese";

    std::string out;
    out += big5 ? "<?xml version=\"1.0\" encoding=\"big5\"?>\n" : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<root xml_tb_version=\"3.2.1\" idx=\"1\" type=\"struct\" size=\"1 1\">\n";
    out += formatString("<version idx=\"1\" type=\"char\" size=\"1 %zu\">%s</version>\n",
                        std::char_traits<char>::length(VERSION_TEXT), VERSION_TEXT);
    appendCell(out, "text", result.textList, true);
    appendCell(out, "syl", result.sylList, false);
    appendCell(out, "warningMessage", result.warningMessages, false);
    out += "<cm idx=\"1\" type=\"struct\" size=\"1 1\">\n";
    out += formatString("\t<language idx=\"1\" type=\"char\" size=\"1 %d\">%s</language>\n", byteLength(language),
                        language.c_str());
    out += formatString("\t<score idx=\"1\" type=\"double\" size=\"1 1\">%g</score><!--Overall score-->\n",
                        static_cast<double>(result.score));
    out += formatString("\t<timberScore idx=\"1\" type=\"double\" size=\"1 1\">%g</timberScore>\n",
                        static_cast<double>(result.timberScore));
    out += formatString(
        "\t<word idx=\"1\" type=\"struct\" size=\"1 %zu\"><!--List of nodes, which each node is a word "
        "(for English) or a syllable (for Chinese)-->\n",
        result.nodes.size());
    for (size_t k = 0; k < result.nodes.size(); ++k)
        appendNode(out, result.nodes[k], static_cast<int32_t>(k + 1), language, names);
    out += "\t</word>\n";

    out += formatString(
        "\t<discountFactor idx=\"1\" type=\"struct\" size=\"1 %zu\"><!--Discount factors for computing "
        "the discounted scores-->\n",
        result.discountOccurrence.size());
    for (size_t i = 0; i < result.discountOccurrence.size(); ++i) {
        // A ratio the discount file did not provide is shown as 0.
        double ratio = i < result.discountRatio.size() ? static_cast<double>(result.discountRatio[i]) : 0.0;
        const char* type = discountTypeText(static_cast<int32_t>(i));
        out += formatString("\t\t<occurrence idx=\"%zu\" type=\"double\" size=\"1 1\">%d</occurrence>\n", i + 1,
                            result.discountOccurrence[i]);
        out += formatString("\t\t<ratio idx=\"%zu\" type=\"double\" size=\"1 1\">%f</ratio>\n", i + 1, ratio);
        out += formatString("\t\t<type idx=\"%zu\" type=\"char\" size=\"1 %zu\">%s</type>\n", i + 1,
                            std::char_traits<char>::length(type), type);
    }
    out += "\t</discountFactor>\n";
    out += "</cm>\n";
    out += "</root>\n";
    return out;
}

void writeXml(const cmResult& result, const macroClass& models, const std::string& path, const std::string& language) {
    std::string document = xmlDocument(result, models, language);
    filePtr file = openFileOrFail(path, "w");
    bool written = std::fwrite(document.data(), 1, document.size(), file.get()) == document.size();
    written = std::fclose(file.release()) == 0 && written;
    if (!written)
        reportError(formatString("Error: Cannot write %s (line %d of file %s)", path.c_str(), __LINE__, UNIT));
}
