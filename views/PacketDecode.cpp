#include "views/PacketDecode.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <utility>

#include "capture/Format.h"
#include "views/DecodeBuilder.h"

namespace {

using decode::Printf;
using decode::TreeBuilder;

}  // namespace

std::vector<DecodeLine> DecodePacket(const uint8_t* bytes, size_t length) {
    FrameLayout f;
    ParseEthernetIpv4(bytes, static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX)), f);
    TreeBuilder t(bytes, length);
    const int root = t.Add(-1, TreeImage::Packet, {}, Printf("Packet: %zu bytes", length));
    if (f.linkHeader == 0)
        return t.Take();

    const int eth = t.Add(root, TreeImage::Header, {0, 14}, "Ethernet Header");
    t.Add(eth, TreeImage::Field, {0, 6}, Printf("Dst Mac Address: %s", MacToText(t.At(0)).c_str()));
    t.Add(eth, TreeImage::Field, {6, 6}, Printf("Src Mac Address: %s", MacToText(t.At(6)).c_str()));
    t.Add(eth, TreeImage::Field, {12, 2}, Printf("Type: %d", f.etherType));
    t.Expand(root);
    t.Expand(eth);
    decode::AddIpv4Packet(t, root, f);
    return t.Take();
}

std::string DecodeAsText(const std::vector<DecodeLine>& lines) {
    // Lines are stored parent first, but a parent's later children may follow another child's own children
    // (the flag bits come after the last TCP field): the text follows the tree, depth first, as it is shown.
    std::vector<std::vector<size_t>> children(lines.size());
    std::vector<size_t> roots;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int parent = lines[i].parent;
        if (parent >= 0 && static_cast<size_t>(parent) < i)
            children[static_cast<size_t>(parent)].push_back(i);
        else
            roots.push_back(i);
    }
    std::string out;
    std::vector<std::pair<size_t, size_t>> stack;  // line, depth
    for (auto root = roots.rbegin(); root != roots.rend(); ++root)
        stack.emplace_back(*root, 0);
    while (!stack.empty()) {
        const auto [i, depth] = stack.back();
        stack.pop_back();
        const DecodeLine& l = lines[i];
        out.append(depth * 2, ' ');
        out += l.text;
        out += '\t';
        if (l.range.empty()) {
            out += "[]";
        } else {
            out += '[';
            out += std::to_string(l.range.offset);
            out += ',';
            out += std::to_string(l.range.length);
            out += ']';
        }
        out += '\n';
        for (auto child = children[i].rbegin(); child != children[i].rend(); ++child)
            stack.emplace_back(*child, depth + 1);
    }
    return out;
}
