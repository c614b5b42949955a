#include "module_writer.h"

#include "base/byte_order.h"

#include "strings/res_decode.h"
#include "strings/res_module.h"

#include <algorithm>
#include <map>
#include <memory>
#include <queue>

namespace {

constexpr std::uint32_t kBlockBits = 9;
constexpr std::uint32_t kMaxBlockNumber = 0x7FFFFF;

struct Block {
    std::uint32_t number = 0;
    std::vector<std::u16string> strings; // by position, gaps filled with empty strings
};

struct Node {
    std::uint64_t weight = 0;
    char16_t symbol = 0;
    std::unique_ptr<Node> zero;
    std::unique_ptr<Node> one;
    std::size_t size = 0; // bytes of this subtree in the dictionary
    bool leaf() const { return !zero; }
};

// Huffman tree over the symbol frequencies; ties broken by creation order so
// that the same source always gives the same file.
std::unique_ptr<Node> buildTree(const std::map<char16_t, std::uint64_t>& frequencies) {
    using Entry = std::pair<std::pair<std::uint64_t, std::uint64_t>, Node*>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    std::vector<std::unique_ptr<Node>> owned;
    std::uint64_t order = 0;
    for (const auto& [symbol, weight] : frequencies) {
        auto node = std::make_unique<Node>();
        node->symbol = symbol;
        node->weight = weight;
        queue.push({{weight, order++}, node.get()});
        owned.push_back(std::move(node));
    }
    const auto take = [&owned](Node* raw) {
        auto it = std::find_if(owned.begin(), owned.end(),
                               [raw](const std::unique_ptr<Node>& p) { return p.get() == raw; });
        std::unique_ptr<Node> node = std::move(*it);
        owned.erase(it);
        return node;
    };
    while (queue.size() > 1) {
        Node* a = queue.top().second;
        queue.pop();
        Node* b = queue.top().second;
        queue.pop();
        auto parent = std::make_unique<Node>();
        parent->weight = a->weight + b->weight;
        parent->zero = take(a);
        parent->one = take(b);
        queue.push({{parent->weight, order++}, parent.get()});
        owned.push_back(std::move(parent));
    }
    return std::move(owned.front());
}

// Sizes the subtrees and, where both children are subtrees, puts the smaller
// one first: only the first child's size is stored, in 16 bits.
void layOut(Node& node) {
    if (node.leaf()) {
        node.size = 0;
        return;
    }
    layOut(*node.zero);
    layOut(*node.one);
    if (node.zero->leaf() && node.one->leaf())
        node.size = 5;
    else if (node.zero->leaf() || node.one->leaf())
        node.size = 3 + node.zero->size + node.one->size;
    else {
        if (node.zero->size > node.one->size)
            std::swap(node.zero, node.one);
        node.size = 3 + node.zero->size + node.one->size;
    }
}

bool emit(const Node& node, std::vector<std::uint8_t>& out,
          std::map<char16_t, std::vector<bool>>& codes, std::vector<bool>& path) {
    const Node& zero = *node.zero;
    const Node& one = *node.one;
    const auto leafCode = [&](const Node& leaf, bool bit) {
        path.push_back(bit);
        codes[leaf.symbol] = path;
        path.pop_back();
    };
    const auto subtree = [&](const Node& child, bool bit) {
        path.push_back(bit);
        const bool ok = emit(child, out, codes, path);
        path.pop_back();
        return ok;
    };
    if (zero.leaf() && one.leaf()) {
        out.push_back(kResNodeTwoLeaves);
        appendLE16(out, zero.symbol);
        appendLE16(out, one.symbol);
        leafCode(zero, false);
        leafCode(one, true);
        return true;
    }
    if (zero.leaf()) {
        out.push_back(kResNodeLeafOnZero);
        appendLE16(out, zero.symbol);
        leafCode(zero, false);
        return subtree(one, true);
    }
    if (one.leaf()) {
        out.push_back(kResNodeLeafOnOne);
        appendLE16(out, one.symbol);
        leafCode(one, true);
        return subtree(zero, false);
    }
    if (zero.size > 0xFFFF)
        return false;
    out.push_back(kResNodeBranch);
    appendLE16(out, static_cast<std::uint16_t>(zero.size));
    return subtree(zero, false) && subtree(one, true);
}

class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    void put(const std::vector<bool>& code) {
        for (const bool bit : code) {
            if (used_ == 0)
                out_.push_back(0);
            if (bit)
                out_.back() |= static_cast<std::uint8_t>(1u << used_);
            used_ = (used_ + 1) % 8;
        }
    }
    // The reader drops the rest of the byte and then skips one whole byte.
    void endString() {
        used_ = 0;
        out_.push_back(0);
    }

private:
    std::vector<std::uint8_t>& out_;
    unsigned used_ = 0;
};

} // namespace

bool writeModule(const ModuleSpec& spec, std::vector<std::uint8_t>& file, std::string& error) {
    if (spec.fallbacks.size() > 3) {
        error = "at most three fallback languages fit in the language list";
        return false;
    }
    std::map<std::uint32_t, Block> blocks;
    for (const auto& [id, text] : spec.strings) {
        if (id == 0 || (id & 0x80000000u) != 0 || (id >> kBlockBits) > kMaxBlockNumber) {
            error = "identifier " + std::to_string(id) + " cannot be stored";
            return false;
        }
        if (text.find(char16_t{0}) != std::u16string::npos) {
            error = "text of identifier " + std::to_string(id) + " holds a zero unit";
            return false;
        }
        Block& block = blocks[id >> kBlockBits];
        block.number = id >> kBlockBits;
        const std::size_t position = id & 0x1FF;
        if (block.strings.size() <= position)
            block.strings.resize(position + 1);
        block.strings[position] = text;
    }

    std::vector<std::uint8_t> dictionary;
    std::map<char16_t, std::vector<bool>> codes;
    if (!spec.plain) {
        std::map<char16_t, std::uint64_t> frequencies;
        frequencies[0] = 0;
        for (const auto& entry : blocks) {
            for (const std::u16string& text : entry.second.strings) {
                for (const char16_t unit : text)
                    ++frequencies[unit];
                ++frequencies[0];
            }
        }
        std::unique_ptr<Node> root = buildTree(frequencies);
        if (root->leaf()) {
            // One symbol only (every string empty): a leaf node decodes it on either bit.
            dictionary.push_back(kResNodeOnlyLeaf);
            appendLE16(dictionary, root->symbol);
            codes[root->symbol] = {false};
        } else {
            layOut(*root);
            std::vector<bool> path;
            if (!emit(*root, dictionary, codes, path)) {
                error = "too many different characters for one code tree";
                return false;
            }
        }
    }

    std::vector<std::uint8_t> data;
    std::vector<ResIndexEntry> index;
    for (const auto& [number, block] : blocks) {
        const std::size_t start = data.size();
        if (spec.plain) {
            for (const std::u16string& text : block.strings) {
                for (const char16_t unit : text)
                    appendLE16(data, unit);
                appendLE16(data, 0);
            }
        } else {
            BitWriter bits(data);
            for (const std::u16string& text : block.strings) {
                for (const char16_t unit : text)
                    bits.put(codes[unit]);
                bits.put(codes[0]);
                bits.endString();
            }
        }
        const std::size_t length = data.size() - start;
        if (length > 0x7FFFFFFF || data.size() > 0x7FFFFFFF) {
            error = "module too large";
            return false;
        }
        const std::uint32_t highest = static_cast<std::uint32_t>(block.strings.size() - 1);
        index.push_back(ResIndexEntry{number | highest << 23, static_cast<std::uint32_t>(start),
                                      static_cast<std::uint32_t>(length)});
    }

    ResModuleHeader header;
    header.setWord(kResFieldMagic, kResMagic);
    header.setWord(kResFieldVersion, kResVersionA);
    header.setWord(kResFieldHeaderLength, kResHeaderSize);
    header.setWord(kResFieldModuleKey, spec.key);
    for (std::size_t i = 0; i < spec.fallbacks.size(); ++i)
        header.setWord(kResFieldModuleKey + 4 * (i + 1), spec.fallbacks[i]);
    const std::uint32_t dictionaryOffset = kResHeaderSize;
    const std::uint32_t indexOffset =
        dictionaryOffset + static_cast<std::uint32_t>(dictionary.size());
    const std::uint32_t dataBase =
        indexOffset + static_cast<std::uint32_t>(index.size() * kResIndexEntrySize);
    header.setWord(kResFieldDictionaryOffset, dictionaryOffset);
    header.setWord(kResFieldDictionaryLength, static_cast<std::uint32_t>(dictionary.size()));
    header.setWord(kResFieldIndexCount, static_cast<std::uint32_t>(index.size()));
    header.setWord(kResFieldIndexOffset, indexOffset);
    header.setWord(kResFieldDataBase, dataBase);

    file.assign(header.bytes.begin(), header.bytes.end());
    file.insert(file.end(), dictionary.begin(), dictionary.end());
    for (const ResIndexEntry& entry : index) {
        appendLE32(file, entry.blockWord);
        appendLE32(file, entry.blockOffset);
        appendLE32(file, entry.lengthWord);
    }
    file.insert(file.end(), data.begin(), data.end());
    return true;
}
