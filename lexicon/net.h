// Search nets: the record the decoder walks (netClass), their construction from
// the syllable sequences of the recognizable texts (tree and sausage nets), and
// their text (.net) and binary (.netb) files.
//
// Construction lays a net out as a work graph (node words and links), widens it
// by the link options of recogParam and writes it as net text into
// textClass::netVs; netClass::netReadLines turns those lines into the record
// exactly as it reads a .net file.
//
// Node layout of every built net: node 0 is the start and node 1 the end (both
// null nodes); nodes 2 and 3 are the leading and trailing "sil" when the net has
// them; the text nodes follow.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class dictClass;
class recogParam;
class textClass;

// Most (phone, state) pairs of one unit the decoder tells apart.
constexpr int32_t MAX_STATE_NUM_IN_SYL = 150;
// Most nextRealNodes entries the null nodes of one net may add beyond its links
// (chains and fans of null nodes multiply successors).
constexpr int64_t MAX_NULL_EXPANSION = 1 << 24;

// One node of a search net.
struct netNode {
    int32_t sylIndex = -1;     // index into m_pronDict of the node's unit; -1 for a null node
    int32_t nodeFlag = 0;      // 0 after reading; 1 after setNodePenalties
    std::string word;          // unit name; "!NULL", "!Null" or "!null" for a null node
    std::string sourceWord;    // free label: in sausage nets the text word of the node's PA
    std::vector<int32_t> nextNodes;      // direct successors, in link order
    std::vector<int32_t> nextRealNodes;  // successors with null nodes looked through
    float penalty = 0.0f;      // added to a path's score on entering the node
};

// True for the three spellings of a null node's word.
bool isNullWord(const std::string& word);

class netClass {
public:
    int32_t nodeNum = 0;          // number of nodes (== nodes.size())
    int32_t linkNum = 0;          // number of links as read ("L=" of the net text)
    std::vector<netNode> nodes;   // node i is nodes[i]

    // Reads a net file by its extension: "net"/"NET" as text, "netb"/"NETB" as
    // binary; any other extension is refused. Reading replaces the record and sets
    // the negative model indices of every unit the net uses to 0 in dict.
    void netRead(const std::string& path, dictClass& dict);

    // Builds the record from net text ("VERSION...", "N=%d\tL=%d", N node lines
    // "I=%d\tW=word@sylIndex@sourceWord", L link lines "J=%d\tS=%d\tE=%d").
    // A word given without an index (or with -1) is looked up in m_pronDict.
    // source names the lines in error messages (a file path, or "netVs").
    // Refuses: no lines, an empty m_pronDict, a missing or malformed header or
    // line, fewer lines than 2 + N + L, a link end that is not a node, an unknown
    // word, an index outside m_pronDict, a cycle made only of null nodes.
    void netReadLines(const std::vector<std::string>& lines, dictClass& dict,
                      const std::string& source = "netVs");

    // Builds the record from a .netb file (little-endian 32-bit N, L, the
    // sylIndex of nodes 2..N-1, then L (start, end) pairs). Nodes 0 and 1 are
    // "!NULL"; other nodes get empty words. Refuses a file whose size differs
    // from what N and L announce, N < 2, an index outside m_pronDict, a link end
    // that is not a node, a cycle made only of null nodes.
    void netbRead(const std::string& path, dictClass& dict);

    // Writes net text to the file, or to standard output for an empty path.
    void netPrint(const std::string& path) const;

    // Writes the .netb form (words are not stored).
    void netbWrite(const std::string& path) const;

    // Computes nextRealNodes of the node: its nextNodes in order, each null
    // successor replaced by that node's own real successors (recursively).
    // Duplicates stay. Also fills nextRealNodes of the null nodes it passes.
    void resolveSuccessors(int32_t nodeIndex);
    // resolveSuccessors for every node, sharing the work of null nodes.
    void resolveAllSuccessors();

    // Every node: penalty 0 and nodeFlag 1; "filler", "fillerC" and "fillerV"
    // nodes get the given penalty.
    void setNodePenalties(float penalty);

    // Largest nextRealNodes size over all nodes; 0 for an empty net.
    int32_t maxFanOut() const;

private:
    // Resolves root and the null nodes reachable from it through null nodes.
    // state: 0 unresolved, 1 on the walk, 2 resolved; budget: entries still allowed.
    void resolveFrom(int32_t root, std::vector<uint8_t>& state, int64_t& budget, const std::string& source);
    // resolveAllSuccessors naming the source in its errors.
    void resolveAll(const std::string& source);
    // Sets the negative model indices of the units of the real nodes to 0.
    void clearMissingModels(dictClass& dict) const;
};

// Work graph of construction: node words and links by work node index.
struct workNode {
    std::string word;
    std::string sourceWord;
};
struct workLink {
    int32_t from = 0;
    int32_t to = 0;
};

// Tree net: a prefix tree over the syllable sequences of text.m_sylVs (each cut
// at its first tab), written into text.netVs. keywordMode turns nodes 2 and 3
// into null nodes with filler loops ("fillerC", "fillerV", "sil"); softSil adds
// an optional "sil" between adjacent syllables of a single entry;
// leadingTrailingSil puts "sil" nodes 2 and 3 before and after the texts.
// Reports an empty m_sylVs.
void buildTreeNet(textClass& text, const recogParam& param, bool keywordMode, bool softSil,
                  bool leadingTrailingSil);

// Sausage net of the single normalized text: one column of the word's PAs
// (sorted, unique) per word, each column linked to the next; with
// usePaddedSoftSil an optional "sil" column between words. A Chinese word
// without a wpa entry gets the column "a"; in other languages it is reported.
void buildSausageNet(textClass& text, const dictClass& dict, const recogParam& param);

// The link options, in the order the builders apply them. Each does nothing
// for a graph of fewer than five nodes. "Real" nodes have a word other than
// "!NULL", "sil" and "sp".
// Real node i >= 4 without i->3 gets i->3.
void addLinksForStopAnywhere(const std::vector<workNode>& nodes, std::vector<workLink>& links);
// Real node i >= 4 without 2->i gets 2->i.
void addLinksForStartAnywhere(const std::vector<workNode>& nodes, std::vector<workLink>& links);
// Node i >= 4 not "!NULL" gets i->j for every later node j, unless present.
void addLinksForForwardJump(const std::vector<workNode>& nodes, std::vector<workLink>& links);
// Real node i >= 4 with a link i->3 gets i->1.
void addLinksForSkippableTrailingSil(const std::vector<workNode>& nodes, std::vector<workLink>& links);
// Real node i >= 4 with a link 2->i gets 0->i.
void addLinksForSkippableLeadingSil(const std::vector<workNode>& nodes, std::vector<workLink>& links);
// The link options switched on.
struct linkOptions {
    bool stopAnywhere = false;          // addLinksForStopAnywhere
    bool startAnywhere = false;         // addLinksForStartAnywhere
    bool forwardJump = false;           // addLinksForForwardJump
    bool skippableTrailingSil = false;  // addLinksForSkippableTrailingSil
    bool skippableLeadingSil = false;   // addLinksForSkippableLeadingSil
};
// The link options of a run's parameters.
linkOptions linkOptionsOf(const recogParam& param);
// Runs the options switched on, in order, printing a line for each.
void applyLinkOptions(const linkOptions& options, const std::vector<workNode>& nodes, std::vector<workLink>& links);

// netVs = the net text of the work graph (every node's index written as -1, so
// that the reader looks its word up).
void netLinesFromGraph(const std::vector<workNode>& nodes, const std::vector<workLink>& links,
                       std::vector<std::string>& netVs);
