#include "xml_check.h"

#include <vector>

using xml::CXmlDocument;
using xml::ElementRecord;
using xml::RecordId;

namespace xml_check {

std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    return out;
}

namespace {

std::string Where(RecordId id, const char* what) {
    return "record " + std::to_string(id) + ": " + what;
}

}  // namespace

std::string CheckIndex(const CXmlDocument& doc) {
    const std::wstring& text = doc.Text();
    const RecordId count = doc.RecordCount();
    if (count == 0) return "no document record";
    if (doc.Record(0).length != text.size() && !(text.empty() && doc.Record(0).length == 0))
        return "document length " + std::to_string(doc.Record(0).length) + " != text " +
               std::to_string(text.size());
    std::vector<int> seen(count, 0);
    std::size_t live = 0;
    for (RecordId id = 1; id < count; ++id)
        if (!(doc.Record(id).flags & xml::kDeleted)) ++live;

    // Walk every parent's child list.
    std::vector<RecordId> parents{0};
    std::size_t reached = 0;
    while (!parents.empty()) {
        const RecordId parent = parents.back();
        parents.pop_back();
        const ElementRecord& p = doc.Record(parent);
        const std::size_t content_begin = parent ? p.start + p.start_tag_length : 0;
        const std::size_t content_end = parent ? p.start + p.length - p.end_tag_length : text.size();
        std::size_t cursor = content_begin;
        RecordId previous = 0;
        for (RecordId id = p.first_child; id; id = doc.Record(id).next_sibling) {
            if (id >= count) return Where(id, "link past the index");
            if (seen[id]++) return Where(id, "reached twice (cycle or shared child)");
            if (++reached > live) return Where(id, "more records reached than live");
            const ElementRecord& r = doc.Record(id);
            if (r.flags & xml::kDeleted) return Where(id, "deleted record linked");
            if (r.parent != parent) return Where(id, "parent link wrong");
            if (r.depth != (parent ? p.depth + 1 : 0)) return Where(id, "depth wrong");
            const bool first = id == p.first_child;
            if (((r.flags & xml::kFirstChild) != 0) != first) return Where(id, "first-child flag wrong");
            if (!first && r.previous_sibling != previous) return Where(id, "previous link wrong");
            if (r.start < cursor) return Where(id, "starts before its previous sibling ends");
            if (r.start_tag_length < 2 || r.length < r.start_tag_length + r.end_tag_length)
                return Where(id, "lengths inconsistent");
            if (r.start + r.length > content_end)
                return Where(id, "ends past its parent's content") + " (" + std::to_string(r.start) + "+" +
                       std::to_string(r.length) + " > " + std::to_string(content_end) + ", parent " +
                       std::to_string(parent) + ")";
            if (text[r.start] != L'<') return Where(id, "start is not '<'");
            if (text[r.start + r.start_tag_length - 1] != L'>')
                return Where(id, "start tag does not end with '>'");
            if (r.end_tag_length) {
                const std::size_t end_tag = r.start + r.length - r.end_tag_length;
                if (text.compare(end_tag, 2, L"</") != 0)
                    return Where(id, "end tag does not start with '</'");
                if (text[r.start + r.length - 1] != L'>') return Where(id, "end tag does not end with '>'");
            }
            cursor = r.start + r.length;
            previous = id;
            if (r.first_child) parents.push_back(id);
        }
        if (p.first_child && doc.Record(p.first_child).previous_sibling != previous)
            return Where(parent, "first child does not name the last child");
    }
    if (reached != live)
        return "only " + std::to_string(reached) + " of " + std::to_string(live) + " live records reached";
    return {};
}

std::string CompareWithFreshParse(const CXmlDocument& doc) {
    CXmlDocument fresh;
    fresh.SetFlags(doc.Flags());
    fresh.SetDocument(doc.Text());
    if (fresh.IsWellFormed() != doc.IsWellFormed())
        return std::string("well-formed flag differs: fresh ") + (fresh.IsWellFormed() ? "yes" : "no");
    constexpr std::uint32_t kCompared = xml::kNotEnded | xml::kFirstChild | xml::kIllFormed;
    // Parallel walk of both trees.
    std::vector<std::pair<RecordId, RecordId>> pending{{0, 0}};
    while (!pending.empty()) {
        auto [a, b] = pending.back();
        pending.pop_back();
        RecordId x = doc.Record(a).first_child, y = fresh.Record(b).first_child;
        for (; x && y; x = doc.Record(x).next_sibling, y = fresh.Record(y).next_sibling) {
            const ElementRecord& r = doc.Record(x);
            const ElementRecord& f = fresh.Record(y);
            const std::string at =
                " at offset " + std::to_string(f.start) + " (" + Narrow(fresh.GetTagName(y)) + ")";
            if (r.start != f.start) return "start differs" + at + ": " + std::to_string(r.start);
            if (r.length != f.length) return "length differs" + at + ": " + std::to_string(r.length);
            if (r.start_tag_length != f.start_tag_length) return "start-tag length differs" + at;
            if (r.end_tag_length != f.end_tag_length) return "end-tag length differs" + at;
            if (r.depth != f.depth) return "depth differs" + at;
            if ((r.flags & kCompared) != (f.flags & kCompared)) return "flags differ" + at;
            pending.push_back({x, y});
        }
        if (x || y)
            return std::string("child count differs below ") +
                   (a ? Narrow(doc.GetTagName(a)) : "the document");
    }
    return {};
}

}  // namespace xml_check
