#include "lexicon/net.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "lexicon/dict.h"
#include "lexicon/text.h"
#include "run/recogParam.h"
#include "run/utility.h"
#include "run/outputSink.h"

// Messages of the readers and writers name unit "net"; those of construction,
// which works on textClass, name unit "text".
static const char* const UNIT = "net";
static const char* const BUILD_UNIT = "text";

bool isNullWord(const std::string& word) { return word == "!NULL" || word == "!Null" || word == "!null"; }

// ---------------------------------------------------------------------------
// Successors

void netClass::resolveFrom(int32_t root, std::vector<uint8_t>& state, int64_t& budget, const std::string& source) {
    if (state[root] == 2) return;
    // Depth-first walk over null nodes; a node's list is assembled once all the
    // null nodes it links to have theirs, so every null node is expanded once.
    std::vector<std::pair<int32_t, size_t>> stack;
    stack.emplace_back(root, 0);
    state[root] = 1;
    while (!stack.empty()) {
        int32_t u = stack.back().first;
        size_t pos = stack.back().second;
        const std::vector<int32_t>& next = nodes[u].nextNodes;
        if (pos < next.size()) {
            ++stack.back().second;
            int32_t v = next[pos];
            if (nodes[v].sylIndex >= 0 || state[v] == 2) continue;
            if (state[v] == 1)
                reportError(formatString("Error: the null nodes of %s form a cycle through node %d. (line %d of file %s)",
                                         source.c_str(), v, __LINE__, UNIT));
            state[v] = 1;
            stack.emplace_back(v, 0);
            continue;
        }
        std::vector<int32_t> list;
        for (int32_t v : next) {
            if (nodes[v].sylIndex >= 0) {
                list.push_back(v);
                --budget;
            } else {
                const std::vector<int32_t>& more = nodes[v].nextRealNodes;
                budget -= static_cast<int64_t>(more.size());
                if (budget < 0) break;
                list.insert(list.end(), more.begin(), more.end());
            }
        }
        if (budget < 0)
            reportError(formatString("Error: the null nodes of %s expand to more successors than %lld beyond its links. "
                                     "(line %d of file %s)",
                                     source.c_str(), static_cast<long long>(MAX_NULL_EXPANSION), __LINE__, UNIT));
        nodes[u].nextRealNodes.swap(list);
        state[u] = 2;
        stack.pop_back();
    }
}

static int64_t countLinks(const std::vector<netNode>& nodes) {
    int64_t total = 0;
    for (const netNode& node : nodes) total += static_cast<int64_t>(node.nextNodes.size());
    return total;
}

void netClass::resolveSuccessors(int32_t nodeIndex) {
    if (nodeIndex < 0 || nodeIndex >= static_cast<int32_t>(nodes.size()))
        reportError(formatString("Error: node %d is not a node of the net (nodeNum=%d). (line %d of file %s)", nodeIndex,
                                 static_cast<int>(nodes.size()), __LINE__, UNIT));
    std::vector<uint8_t> state(nodes.size(), 0);
    int64_t budget = countLinks(nodes) + MAX_NULL_EXPANSION;
    resolveFrom(nodeIndex, state, budget, "the net");
}

void netClass::resolveAll(const std::string& source) {
    std::vector<uint8_t> state(nodes.size(), 0);
    int64_t budget = countLinks(nodes) + MAX_NULL_EXPANSION;
    for (size_t i = 0; i < nodes.size(); ++i) resolveFrom(static_cast<int32_t>(i), state, budget, source);
}

void netClass::resolveAllSuccessors() { resolveAll("the net"); }

void netClass::clearMissingModels(dictClass& dict) const {
    for (const netNode& node : nodes) {
        if (node.sylIndex < 0) continue;
        for (int32_t& model : dict.m_pronDict[node.sylIndex].modelIndices)
            if (model < 0) model = 0;
    }
}

void netClass::setNodePenalties(float penalty) {
    for (netNode& node : nodes) {
        node.penalty = 0.0f;
        node.nodeFlag = 1;
        if (node.word == "filler" || node.word == "fillerC" || node.word == "fillerV") node.penalty = penalty;
    }
}

int32_t netClass::maxFanOut() const {
    size_t most = 0;
    for (const netNode& node : nodes) most = std::max(most, node.nextRealNodes.size());
    return static_cast<int32_t>(most);
}

// ---------------------------------------------------------------------------
// Net text

static void skipSpace(const std::string& s, size_t& pos) {
    while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\r' || s[pos] == '\n')) ++pos;
}

static bool scanLiteral(const std::string& s, size_t& pos, const char* literal) {
    size_t n = std::char_traits<char>::length(literal);
    if (s.compare(pos, n, literal) != 0) return false;
    pos += n;
    return true;
}

// A decimal 32-bit integer after optional white space and sign.
static bool scanInt(const std::string& s, size_t& pos, int32_t& value) {
    skipSpace(s, pos);
    size_t start = pos;
    if (pos < s.size() && (s[pos] == '-' || s[pos] == '+')) ++pos;
    size_t digits = pos;
    int64_t magnitude = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        magnitude = magnitude * 10 + (s[pos] - '0');
        if (magnitude > 2147483648LL) return false;
        ++pos;
    }
    if (pos == digits) return false;
    int64_t v = s[start] == '-' ? -magnitude : magnitude;
    if (v > INT32_MAX || v < INT32_MIN) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// "N=%d\tL=%d"
static bool parseHeader(const std::string& line, int32_t& n, int32_t& l) {
    size_t pos = 0;
    if (!scanLiteral(line, pos, "N=") || !scanInt(line, pos, n)) return false;
    skipSpace(line, pos);
    return scanLiteral(line, pos, "L=") && scanInt(line, pos, l);
}

// "<first field>\tS=%d\tE=%d"; the first field is not used.
static bool parseLink(const std::string& line, int32_t& start, int32_t& end) {
    size_t pos = 0;
    skipSpace(line, pos);
    size_t fieldStart = pos;
    while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t' && line[pos] != '\r' && line[pos] != '\n') ++pos;
    if (pos == fieldStart) return false;
    skipSpace(line, pos);
    if (!scanLiteral(line, pos, "S=") || !scanInt(line, pos, start)) return false;
    skipSpace(line, pos);
    return scanLiteral(line, pos, "E=") && scanInt(line, pos, end);
}

void netClass::netReadLines(const std::vector<std::string>& lines, dictClass& dict, const std::string& source) {
    if (lines.empty()) reportError(formatString("Error: netVs.size()==0! (line %d of file %s)", __LINE__, UNIT));
    if (dict.m_pronDict.empty())
        reportError(formatString("Error: myDict.m_pronDict.size()==0! (line %d of file %s)", __LINE__, UNIT));

    nodes.clear();
    nodeNum = 0;
    linkNum = 0;
    int32_t n = 0, l = 0;
    if (lines.size() < 2 || !parseHeader(lines[1], n, l))
        reportError(formatString("Error: the second line of %s is not \"N=<nodes>\tL=<links>\": \"%s\". (line %d of file %s)",
                                 source.c_str(), lines.size() < 2 ? "" : lines[1].c_str(), __LINE__, UNIT));
    if (n < 0 || l < 0)
        reportError(formatString("Error: %s gives a negative count (N=%d, L=%d). (line %d of file %s)", source.c_str(), n,
                                 l, __LINE__, UNIT));
    int64_t needed = 2 + static_cast<int64_t>(n) + l;
    if (static_cast<int64_t>(lines.size()) < needed)
        reportError(formatString("Error: %s has %lld lines, fewer than the %lld that N=%d and L=%d need. (line %d of file %s)",
                                 source.c_str(), static_cast<long long>(lines.size()), static_cast<long long>(needed), n,
                                 l, __LINE__, UNIT));

    nodes.resize(n);
    for (int32_t i = 0; i < n; ++i) {
        const std::string& line = lines[2 + i];
        size_t w = line.find("W=");
        if (w == std::string::npos)
            reportError(formatString("Error: node line %d of %s has no \"W=\" field: \"%s\". (line %d of file %s)", i,
                                     source.c_str(), line.c_str(), __LINE__, UNIT));
        std::string field = line.substr(w + 2);
        size_t last = field.find_last_not_of("\t\n\r ");
        field.erase(last == std::string::npos ? 0 : last + 1);

        netNode& node = nodes[i];
        std::vector<std::string> pieces = splitString(field, '@');
        node.word = pieces.empty() ? std::string() : pieces[0];
        if (isNullWord(node.word)) {
            node.sylIndex = -1;
            continue;
        }
        node.sylIndex = -1;
        if (pieces.size() >= 2) node.sylIndex = atoiLike(pieces[1]);
        if (pieces.size() == 3) node.sourceWord = pieces[2];
        if (pieces.size() >= 4) {
            size_t second = field.find('@', field.find('@') + 1);
            node.sourceWord = field.substr(second + 1);
        }
        if (node.sylIndex == -1) {
            node.sylIndex = dict.pronDictFind(node.word);
            if (node.sylIndex == -1)
                reportError(formatString(
                    "Error: \"%s\" (nodeIndex=%d) not found in the pronunciation dictionary. (line %d of file %s)\n",
                    node.word.c_str(), i, __LINE__, UNIT));
        }
        if (node.sylIndex < 0 || node.sylIndex >= static_cast<int32_t>(dict.m_pronDict.size()))
            reportError(formatString("Error: sylIndex (%d) out of the range of [0, %d]! (line %d of file %s)\n",
                                     node.sylIndex, static_cast<int>(dict.m_pronDict.size()), __LINE__, UNIT));
    }

    for (int32_t j = 0; j < l; ++j) {
        const std::string& line = lines[2 + static_cast<size_t>(n) + j];
        int32_t start = 0, end = 0;
        if (!parseLink(line, start, end))
            reportError(formatString("Error: link line %d of %s is not \"J=<j>\tS=<start>\tE=<end>\": \"%s\". (line %d of file %s)",
                                     j, source.c_str(), line.c_str(), __LINE__, UNIT));
        if (start < 0 || start >= n || end < 0 || end >= n)
            reportError(formatString("Error: link %d of %s joins %d to %d, but the net has the nodes 0 to %d. (line %d of file %s)",
                                     j, source.c_str(), start, end, n - 1, __LINE__, UNIT));
        nodes[start].nextNodes.push_back(end);
    }
    nodeNum = n;
    linkNum = l;

    resolveAll(source);
    clearMissingModels(dict);
}

void netClass::netRead(const std::string& path, dictClass& dict) {
    std::string extension = fileExtension(path);
    if (extension == "netb" || extension == "NETB") {
        netbRead(path, dict);
    } else if (extension == "net" || extension == "NET") {
        std::vector<std::string> lines = readLines(path, 0);
        netReadLines(lines, dict, path);
    } else {
        reportError(formatString(
            "Error in reading %s: The only allowed extension are \"net\" and \"netb\".  (line %d of file %s)\n",
            path.c_str(), __LINE__, UNIT));
    }
}

// Writes the text to the file and fails when not everything was written.
static void writeText(FILE* f, const std::string& text, const std::string& path) {
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size())
        reportError(formatString("Error: cannot write %s (line %d of file %s)", path.c_str(), __LINE__, UNIT));
}

void netClass::netPrint(const std::string& path) const {
    std::string text = "VERSION=1.0 (by netClass::netPrint())\n";
    text += formatString("N=%d\tL=%lld\n", static_cast<int>(nodes.size()), static_cast<long long>(countLinks(nodes)));
    for (size_t i = 0; i < nodes.size(); ++i)
        text += formatString("I=%d\tW=%s@%d@%s\n", static_cast<int>(i), nodes[i].word.c_str(), nodes[i].sylIndex,
                             nodes[i].sourceWord.c_str());
    int32_t j = 0;
    for (size_t i = 0; i < nodes.size(); ++i)
        for (int32_t next : nodes[i].nextNodes) text += formatString("J=%d\tS=%d\tE=%d\n", j++, static_cast<int>(i), next);

    if (path.empty()) {
        writeText(stdout, text, "standard output");
        std::fflush(stdout);
        return;
    }
    filePtr f = openFileOrFail(path, "w");
    writeText(f.get(), text, path);
    if (std::fclose(f.release()) != 0)
        reportError(formatString("Error: cannot write %s (line %d of file %s)", path.c_str(), __LINE__, UNIT));
}

// ---------------------------------------------------------------------------
// Binary nets

static void appendLe32(std::string& out, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xff));
}

static int32_t le32At(const std::string& bytes, size_t pos) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[pos + i])) << (8 * i);
    return static_cast<int32_t>(u);
}

void netClass::netbWrite(const std::string& path) const {
    std::string bytes;
    int64_t links = countLinks(nodes);
    bytes.reserve(8 + 4 * nodes.size() + 8 * static_cast<size_t>(links));
    appendLe32(bytes, static_cast<int32_t>(nodes.size()));
    appendLe32(bytes, static_cast<int32_t>(links));
    for (size_t i = 2; i < nodes.size(); ++i) appendLe32(bytes, nodes[i].sylIndex);
    for (size_t i = 0; i < nodes.size(); ++i)
        for (int32_t next : nodes[i].nextNodes) {
            appendLe32(bytes, static_cast<int32_t>(i));
            appendLe32(bytes, next);
        }
    filePtr f = openFileOrFail(path, "wb");
    writeText(f.get(), bytes, path);
    if (std::fclose(f.release()) != 0)
        reportError(formatString("Error: cannot write %s (line %d of file %s)", path.c_str(), __LINE__, UNIT));
}

void netClass::netbRead(const std::string& path, dictClass& dict) {
    std::string bytes = readFileBytes(path);
    const long long size = static_cast<long long>(bytes.size());
    if (size < 8)
        reportError(formatString("Error: %s holds %lld bytes, too few for the node and link counts. (line %d of file %s)",
                                 path.c_str(), size, __LINE__, UNIT));
    int32_t n = le32At(bytes, 0);
    int32_t l = le32At(bytes, 4);
    if (n < 2 || l < 0)
        reportError(formatString("Error: %s gives N=%d and L=%d; a net needs N >= 2 (its start and end) and L >= 0. "
                                 "(line %d of file %s)",
                                 path.c_str(), n, l, __LINE__, UNIT));
    long long needed = 8 + 4LL * (n - 2) + 8LL * l;
    if (size != needed)
        reportError(formatString("Error: %s holds %lld bytes, but a net of N=%d and L=%d takes %lld. (line %d of file %s)",
                                 path.c_str(), size, n, l, needed, __LINE__, UNIT));

    nodes.clear();
    nodes.resize(n);
    nodeNum = n;
    linkNum = l;
    nodes[0].word = "!NULL";
    nodes[1].word = "!NULL";
    const int32_t dictSize = static_cast<int32_t>(dict.m_pronDict.size());
    size_t pos = 8;
    for (int32_t i = 2; i < n; ++i, pos += 4) {
        int32_t index = le32At(bytes, pos);
        // -1 is how the writer stores a null node (keyword nets have them at 2 and 3).
        if (index == -1) {
            nodes[i].word = "!NULL";
            continue;
        }
        if (index < 0 || index >= dictSize)
            reportError(formatString("Error: sylIndex (%d) of node %d in %s out of the range of [0, %d]! (line %d of file %s)",
                                     index, i, path.c_str(), dictSize, __LINE__, UNIT));
        nodes[i].sylIndex = index;
    }
    for (int32_t j = 0; j < l; ++j, pos += 8) {
        int32_t start = le32At(bytes, pos);
        int32_t end = le32At(bytes, pos + 4);
        if (start < 0 || start >= n || end < 0 || end >= n)
            reportError(formatString("Error: link %d of %s joins %d to %d, but the net has the nodes 0 to %d. (line %d of file %s)",
                                     j, path.c_str(), start, end, n - 1, __LINE__, UNIT));
        nodes[start].nextNodes.push_back(end);
    }
    resolveAll(path);
    clearMissingModels(dict);
}

// ---------------------------------------------------------------------------
// Construction

// Links as a set of (from, to) keys, for the existence tests of the link options.
static uint64_t linkKey(int32_t from, int32_t to) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(from)) << 32) | static_cast<uint32_t>(to);
}

static std::unordered_set<uint64_t> linkSet(const std::vector<workLink>& links) {
    std::unordered_set<uint64_t> set;
    set.reserve(links.size() * 2);
    for (const workLink& link : links) set.insert(linkKey(link.from, link.to));
    return set;
}

static bool isRealWord(const std::string& word) { return word != "!NULL" && word != "sil" && word != "sp"; }

static void addLink(std::vector<workLink>& links, int32_t from, int32_t to) { links.push_back(workLink{from, to}); }

void addLinksForStopAnywhere(const std::vector<workNode>& nodes, std::vector<workLink>& links) {
    if (nodes.size() < 5) return;
    std::unordered_set<uint64_t> present = linkSet(links);
    for (int32_t i = 4; i < static_cast<int32_t>(nodes.size()); ++i)
        if (isRealWord(nodes[i].word) && present.insert(linkKey(i, 3)).second) addLink(links, i, 3);
}

void addLinksForStartAnywhere(const std::vector<workNode>& nodes, std::vector<workLink>& links) {
    if (nodes.size() < 5) return;
    std::unordered_set<uint64_t> present = linkSet(links);
    for (int32_t i = 4; i < static_cast<int32_t>(nodes.size()); ++i)
        if (isRealWord(nodes[i].word) && present.insert(linkKey(2, i)).second) addLink(links, 2, i);
}

void addLinksForForwardJump(const std::vector<workNode>& nodes, std::vector<workLink>& links) {
    if (nodes.size() < 5) return;
    std::unordered_set<uint64_t> present = linkSet(links);
    const int32_t count = static_cast<int32_t>(nodes.size());
    for (int32_t i = 4; i < count; ++i) {
        if (nodes[i].word == "!NULL") continue;
        for (int32_t j = i + 1; j < count; ++j)
            if (present.insert(linkKey(i, j)).second) addLink(links, i, j);
    }
}

void addLinksForSkippableTrailingSil(const std::vector<workNode>& nodes, std::vector<workLink>& links) {
    if (nodes.size() < 5) return;
    std::unordered_set<uint64_t> present = linkSet(links);
    for (int32_t i = 4; i < static_cast<int32_t>(nodes.size()); ++i)
        if (isRealWord(nodes[i].word) && present.count(linkKey(i, 3))) addLink(links, i, 1);
}

void addLinksForSkippableLeadingSil(const std::vector<workNode>& nodes, std::vector<workLink>& links) {
    if (nodes.size() < 5) return;
    std::unordered_set<uint64_t> present = linkSet(links);
    for (int32_t i = 4; i < static_cast<int32_t>(nodes.size()); ++i)
        if (isRealWord(nodes[i].word) && present.count(linkKey(2, i))) addLink(links, 0, i);
}

linkOptions linkOptionsOf(const recogParam& param) {
    linkOptions options;
    options.stopAnywhere = param.addLink4stopAnywhere != 0;
    options.startAnywhere = param.addLink4startAnywhere != 0;
    options.forwardJump = param.addLink4forwardJump != 0;
    options.skippableTrailingSil = param.addLink4skippableTrailingSil != 0;
    options.skippableLeadingSil = param.addLink4skippableLeadingSil != 0;
    return options;
}

void applyLinkOptions(const linkOptions& param, const std::vector<workNode>& nodes, std::vector<workLink>& links) {
    if (param.stopAnywhere) {
        sinkPrintf("\tAdd links for stop anywhere...   (line %d in %s)\n", __LINE__, BUILD_UNIT);
        addLinksForStopAnywhere(nodes, links);
    }
    if (param.startAnywhere) {
        sinkPrintf("\tAdd links for start anywhere...  (line %d in %s)\n", __LINE__, BUILD_UNIT);
        addLinksForStartAnywhere(nodes, links);
    }
    if (param.forwardJump) {
        sinkPrintf("\tAdd links for forward jump...    (line %d in %s)\n", __LINE__, BUILD_UNIT);
        addLinksForForwardJump(nodes, links);
    }
    if (param.skippableTrailingSil) {
        sinkPrintf("\tAdd links for skippable trailing sil...    (line %d in %s)\n", __LINE__, BUILD_UNIT);
        addLinksForSkippableTrailingSil(nodes, links);
    }
    if (param.skippableLeadingSil) {
        sinkPrintf("\tAdd links for skippable leading sil...     (line %d in %s)\n", __LINE__, BUILD_UNIT);
        addLinksForSkippableLeadingSil(nodes, links);
    }
}

void netLinesFromGraph(const std::vector<workNode>& nodes, const std::vector<workLink>& links,
                       std::vector<std::string>& netVs) {
    netVs.clear();
    netVs.reserve(2 + nodes.size() + links.size());
    netVs.push_back("VERSION=1.0");
    netVs.push_back(formatString("N=%d\tL=%d", static_cast<int>(nodes.size()), static_cast<int>(links.size())));
    for (size_t i = 0; i < nodes.size(); ++i)
        netVs.push_back(formatString("I=%d\tW=%s@%d@%s", static_cast<int>(i), nodes[i].word.c_str(), -1,
                                     nodes[i].sourceWord.c_str()));
    for (size_t j = 0; j < links.size(); ++j)
        netVs.push_back(formatString("J=%d\tS=%d\tE=%d", static_cast<int>(j), links[j].from, links[j].to));
}

static int32_t addNode(std::vector<workNode>& nodes, const std::string& word, const std::string& sourceWord = "") {
    nodes.push_back(workNode{word, sourceWord});
    return static_cast<int32_t>(nodes.size()) - 1;
}

void buildTreeNet(textClass& text, const recogParam& param, bool keywordMode, bool softSil, bool leadingTrailingSil) {
    if (text.m_sylVs.empty())
        reportError(formatString("Error: m_sylVs.size()=0 at line %d of file %s!", __LINE__, BUILD_UNIT));

    std::vector<workNode> nodes;
    std::vector<workLink> links;
    addNode(nodes, "!NULL");
    addNode(nodes, "!NULL");
    int32_t root = 0, final = 1;
    if (leadingTrailingSil) {
        addNode(nodes, "sil");
        addNode(nodes, "sil");
        addLink(links, 0, 2);
        addLink(links, 3, 1);
        root = 2;
        final = 3;
    }

    std::vector<std::string> sequences;
    sequences.reserve(text.m_sylVs.size());
    for (const std::string& entry : text.m_sylVs) sequences.push_back(entry.substr(0, entry.find('\t')));
    std::sort(sequences.begin(), sequences.end());

    size_t depth = 0;
    for (const std::string& s : sequences)
        depth = std::max(depth, static_cast<size_t>(std::count(s.begin(), s.end(), '-')));
    depth += 1;

    // Prefix tree: position j of a sequence reuses the node of the previous
    // sequence while every syllable so far is the same.
    std::vector<std::string> previousSyllable(depth);
    std::vector<int32_t> parentAt(depth, -1);
    std::vector<int32_t> nodeAt(depth, -1);
    std::vector<bool> linkedToFinal(nodes.size(), false);
    parentAt[0] = root;
    for (const std::string& s : sequences) {
        std::vector<std::string> syllables = removeEmptyStrings(splitString(s, '-'));
        const size_t k = syllables.size();
        bool shared = true;
        for (size_t j = 0; j < k; ++j) {
            if (shared && syllables[j] == previousSyllable[j]) continue;
            int32_t node = addNode(nodes, syllables[j]);
            linkedToFinal.push_back(false);
            addLink(links, parentAt[j], node);
            previousSyllable[j] = syllables[j];
            nodeAt[j] = node;
            if (j + 1 < depth) parentAt[j + 1] = node;
            shared = false;
            if (j == k - 1) {
                addLink(links, node, final);
                linkedToFinal[node] = true;
                for (size_t r = k; r < depth; ++r) previousSyllable[r].clear();
            }
        }
        // A sequence whose syllables all lie on an earlier, longer path (possible
        // when "--" sorts a longer sequence first) still has to be able to end.
        if (shared && k > 0 && !linkedToFinal[nodeAt[k - 1]]) {
            addLink(links, nodeAt[k - 1], final);
            linkedToFinal[nodeAt[k - 1]] = true;
        }
    }

    if (keywordMode) {
        if (nodes.size() < 4)
            reportError(formatString("Error: keyword mode needs the nodes 2 and 3, but the net has %d nodes. (line %d of file %s)",
                                     static_cast<int>(nodes.size()), __LINE__, BUILD_UNIT));
        nodes[2].word = "!NULL";
        nodes[3].word = "!NULL";
        // Filler models may be consumed any number of times before and after the text.
        struct fillerLoop {
            const char* word;
            int32_t hub;
        };
        const fillerLoop loops[] = {{"fillerC", 2}, {"fillerC", 3}, {"fillerV", 2},
                                    {"fillerV", 3}, {"sil", 2},     {"sil", 3}};
        for (const fillerLoop& loop : loops) {
            int32_t filler = addNode(nodes, loop.word);
            addLink(links, loop.hub, filler);
            addLink(links, filler, loop.hub);
        }
    }

    if (softSil && text.m_sylVs.size() == 1) {
        // The single sequence is the chain of nodes from first on; an optional
        // "sil" goes between each pair of its adjacent syllables.
        const std::string& s = text.m_sylVs[0];
        size_t n = removeEmptyStrings(splitString(s.substr(0, s.find('\t')), '-')).size();
        const int32_t first = leadingTrailingSil ? 4 : 2;
        for (size_t k = 0; k + 1 < n; ++k) {
            int32_t sil = addNode(nodes, "sil");
            addLink(links, first + static_cast<int32_t>(k), sil);
            addLink(links, sil, first + static_cast<int32_t>(k) + 1);
        }
    }

    applyLinkOptions(linkOptionsOf(param), nodes, links);
    netLinesFromGraph(nodes, links, text.netVs);
}

// Links every node of from to every node of to (for each target, each source).
static void linkLayers(std::vector<workLink>& links, const std::vector<int32_t>& from, const std::vector<int32_t>& to) {
    for (int32_t t : to)
        for (int32_t f : from) addLink(links, f, t);
}

void buildSausageNet(textClass& text, const dictClass& dict, const recogParam& param) {
    if (text.m_txtVs.size() != 1)
        reportError(formatString(
            "Error: m_txtVs.size()=!1, which cannot be transformed into sausage net at line %d of file %s!", __LINE__,
            BUILD_UNIT));
    if (text.m_txtVsNormalized.empty())
        reportError(formatString("Error: the text has not been normalized (m_txtVsNormalized.size()=0). (line %d of file %s)",
                                 __LINE__, BUILD_UNIT));

    std::vector<workNode> nodes;
    std::vector<workLink> links;
    addNode(nodes, "!NULL");
    addNode(nodes, "!NULL");
    addNode(nodes, "sil");
    addNode(nodes, "sil");
    addLink(links, 0, 2);
    addLink(links, 3, 1);

    const std::string& sentence = text.m_txtVsNormalized[0];
    std::vector<std::string> words;
    textClass::splitWords(sentence, param.language, words);

    std::vector<int32_t> beforePrevious{0}, previous{2}, current;
    const size_t wordCount = words.size();
    for (size_t p = 0; p < wordCount; ++p) {
        const std::string& word = words[p];
        std::vector<std::string> pas;
        std::string sourceWord = word;
        int32_t entry = dict.wpaFind(word);
        if (entry >= 0) {
            pas = dict.m_wpa[entry].pa;
            sourceWord = dict.m_wpa[entry].word;
            std::sort(pas.begin(), pas.end());
            pas.erase(std::unique(pas.begin(), pas.end()), pas.end());
        } else {
            sinkPrintf("Warning: Found no pinyin for \"%s\" in \"%s\". Use \"a\" instead.\n", word.c_str(),
                        sentence.c_str());
            if (param.language == "english")
                reportError(formatString("Error: Found no pronunciation entry for %s. Please add the pronunciation to "
                                         "wpaAddendaFile. (line %d of file %s)",
                                         word.c_str(), __LINE__, BUILD_UNIT));
            if (param.language != "chinese")
                reportError(formatString("Error: Found no pronunciation entry for \"%s\" (language %s). (line %d of file %s)",
                                         word.c_str(), param.language.c_str(), __LINE__, BUILD_UNIT));
            pas.push_back("a");
        }

        current.clear();
        for (const std::string& pa : pas) current.push_back(addNode(nodes, pa, sourceWord));
        linkLayers(links, previous, current);
        if (param.usePaddedSoftSil != 0 && p > 0) linkLayers(links, beforePrevious, current);

        if (p + 1 < wordCount && param.usePaddedSoftSil != 0) {
            beforePrevious = previous;
            previous = current;
            current.assign(1, addNode(nodes, "sil"));
            linkLayers(links, previous, current);
        } else if (p + 1 == wordCount) {
            beforePrevious = previous;
            previous = current;
            current.assign(1, 3);
            linkLayers(links, previous, current);
        }
        beforePrevious = previous;
        previous = current;
    }

    applyLinkOptions(linkOptionsOf(param), nodes, links);
    netLinesFromGraph(nodes, links, text.netVs);
}
