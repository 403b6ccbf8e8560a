#include "xml_document.h"

#include <limits>
#include <new>

#include "xml_io.h"
#include "xml_tokenizer.h"

namespace xml {

namespace {

// Simple case folding for the scripts element names are written in
// (Latin, Greek, Cyrillic); other characters compare exactly.
wchar_t FoldCase(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<wchar_t>(c + 32);
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A pairs upper/lower, even/odd except in two runs.
        const bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        if (odd_upper) return (c & 1) ? static_cast<wchar_t>(c + 1) : c;
        return static_cast<wchar_t>(c | 1);
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<wchar_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F) return static_cast<wchar_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<wchar_t>(c + 80);
    return c;
}

bool EndsName(wchar_t c) {
    return IsXmlSpace(c) || c == L'/' || c == L'>';
}

constexpr std::size_t kNotFound = std::wstring_view::npos;

}  // namespace

bool NameMatches(std::wstring_view stored, std::wstring_view wanted, bool ignore_case) {
    if (wanted.size() < stored.size()) return false;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const wchar_t a = stored[i], b = wanted[i];
        if (a == b) continue;
        if (!ignore_case || FoldCase(a) != FoldCase(b)) return false;
    }
    if (wanted.size() == stored.size()) return true;
    const wchar_t next = wanted[stored.size()];
    return next == L' ' || next == L'=' || next == L'/' || next == L'[' || next == L']';
}

std::wstring DecodeEntities(std::wstring_view value) {
    std::wstring out;
    out.reserve(value.size());
    const std::size_t n = value.size();
    std::size_t i = 0;
    while (i < n) {
        const wchar_t c = value[i];
        if (c != L'&') {
            out.push_back(c);
            ++i;
            continue;
        }
        struct Named {
            std::wstring_view name;
            wchar_t character;
        };
        static constexpr Named kNamed[] = {
            {L"lt;", L'<'}, {L"amp;", L'&'}, {L"gt;", L'>'}, {L"apos;", L'\''}, {L"quot;", L'"'}};
        const std::wstring_view rest = value.substr(i + 1);
        bool done = false;
        for (const auto& named : kNamed) {
            if (rest.substr(0, named.name.size()) == named.name) {
                out.push_back(named.character);
                i += 1 + named.name.size();
                done = true;
                break;
            }
        }
        if (done) continue;
        if (!rest.empty() && rest[0] == L'#') {
            const bool hex = rest.size() > 1 && rest[1] == L'x';
            const std::size_t digits_at = hex ? 2 : 1;  // within rest
            // The ';' must stand within the seven characters after '#' (or 'x').
            const std::size_t semicolon = rest.find(L';', digits_at);
            if (semicolon != kNotFound && semicolon > digits_at && semicolon - (digits_at - 1) <= 7) {
                std::uint32_t number = 0;
                bool valid = true;
                for (std::size_t k = digits_at; k < semicolon; ++k) {
                    const wchar_t d = rest[k];
                    unsigned digit;
                    if (d >= L'0' && d <= L'9') {
                        digit = static_cast<unsigned>(d - L'0');
                    } else if (hex && d >= L'a' && d <= L'f') {
                        digit = static_cast<unsigned>(d - L'a' + 10);
                    } else if (hex && d >= L'A' && d <= L'F') {
                        digit = static_cast<unsigned>(d - L'A' + 10);
                    } else {
                        valid = false;
                        break;
                    }
                    number = number * (hex ? 16 : 10) + digit;
                }
                // 0, surrogates and values past U+10FFFF are no usable
                // character: the reference stays as written.
                if (valid && number != 0 && !(number >= 0xD800 && number <= 0xDFFF) && number <= 0x10FFFF) {
                    if (number < 0x10000) {
                        out.push_back(static_cast<wchar_t>(number));
                    } else {
                        number -= 0x10000;
                        out.push_back(static_cast<wchar_t>(0xD800 + (number >> 10)));
                        out.push_back(static_cast<wchar_t>(0xDC00 + (number & 0x3FF)));
                    }
                    i += 1 + semicolon + 1;
                    continue;
                }
            }
        }
        out.push_back(c);
        ++i;
    }
    return out;
}

CXmlDocument::CXmlDocument() {
    ResetIndex(8);
}

// ---- index storage ----

void CXmlDocument::EnsureRoom(std::size_t records) {
    if (records <= m_room) return;
    if (records > std::numeric_limits<RecordId>::max()) throw std::bad_alloc();
    // Grow the partly allocated last block first; full blocks never move.
    std::size_t room = m_room;
    while (room < records) {
        const std::size_t block = room >> kBlockBits;
        const std::size_t block_start = block << kBlockBits;
        std::size_t want = records - block_start;
        if (want > kBlockSize) want = kBlockSize;
        auto fresh = std::make_unique_for_overwrite<ElementRecord[]>(want);
        if (block < m_blocks.size()) {
            // Only records handed out hold values.
            const std::size_t used_end = room < m_nextFree ? room : m_nextFree;
            for (std::size_t i = block_start; i < used_end; ++i)
                fresh[i - block_start] = m_blocks[block][i - block_start];
            m_blocks[block] = std::move(fresh);
        } else {
            m_blocks.push_back(std::move(fresh));
        }
        room = block_start + want;
    }
    m_room = room;
}

void CXmlDocument::ResetIndex(std::size_t expected_records) {
    if (expected_records < 1) expected_records = 1;
    // Re-parsing a document of about the same size keeps the blocks: fresh
    // memory costs more than the parse itself on some systems.
    if (m_room < expected_records || m_room / 4 > expected_records) {
        m_blocks.clear();
        m_room = 0;
        EnsureRoom(expected_records);
    }
    At(0) = ElementRecord{};
    m_nextFree = 1;
    m_freeList = 0;
    m_parent = m_main = m_child = 0;
}

RecordId CXmlDocument::NewRecord() {
    RecordId id;
    if (m_freeList) {
        id = m_freeList;
        m_freeList = At(id).next_sibling;
    } else {
        if (m_nextFree >= m_room) {
            std::size_t grown = static_cast<std::size_t>(m_nextFree) + m_nextFree / 2;
            EnsureRoom(grown > m_nextFree ? grown : m_nextFree + 1);
        }
        id = m_nextFree++;
    }
    At(id) = ElementRecord{};
    return id;
}

void CXmlDocument::FreeSubtree(RecordId first) {
    if (!first) return;
    // Collect first: the free list reuses next_sibling, which the walk needs.
    std::vector<RecordId> doomed;
    std::vector<RecordId> pending{first};
    while (!pending.empty()) {
        RecordId r = pending.back();
        pending.pop_back();
        for (; r; r = At(r).next_sibling) {
            doomed.push_back(r);
            if (At(r).first_child) pending.push_back(At(r).first_child);
        }
    }
    for (RecordId r : doomed) {
        ElementRecord& rec = At(r);
        rec = ElementRecord{};
        rec.flags = kDeleted;
        rec.next_sibling = m_freeList;
        m_freeList = r;
    }
}

// ---- links ----

void CXmlDocument::LinkLastChild(RecordId parent, RecordId record) {
    ElementRecord& p = At(parent);
    ElementRecord& r = At(record);
    r.parent = parent;
    r.next_sibling = 0;
    if (!p.first_child) {
        p.first_child = record;
        r.previous_sibling = record;
        r.flags |= kFirstChild;
        return;
    }
    ElementRecord& first = At(p.first_child);
    const RecordId last = first.previous_sibling;
    At(last).next_sibling = record;
    r.previous_sibling = last;
    r.flags &= ~static_cast<std::uint32_t>(kFirstChild);
    first.previous_sibling = record;
}

// Puts the sibling chain first..last below parent after child `after`
// (0: in front).
void CXmlDocument::LinkChain(RecordId parent, RecordId after, RecordId first, RecordId last) {
    for (RecordId r = first;; r = At(r).next_sibling) {
        At(r).parent = parent;
        At(r).flags &= ~static_cast<std::uint32_t>(kFirstChild);
        if (r == last) break;
    }
    ElementRecord& p = At(parent);
    if (!p.first_child) {
        p.first_child = first;
        At(first).previous_sibling = last;
        At(first).flags |= kFirstChild;
        At(last).next_sibling = 0;
        return;
    }
    const RecordId old_first = p.first_child;
    const RecordId old_last = At(old_first).previous_sibling;
    if (!after) {
        At(old_first).flags &= ~static_cast<std::uint32_t>(kFirstChild);
        At(old_first).previous_sibling = last;
        At(last).next_sibling = old_first;
        At(first).previous_sibling = old_last;
        At(first).flags |= kFirstChild;
        p.first_child = first;
        return;
    }
    const RecordId following = At(after).next_sibling;
    At(after).next_sibling = first;
    At(first).previous_sibling = after;
    At(last).next_sibling = following;
    if (following) {
        At(following).previous_sibling = last;
    } else {
        At(old_first).previous_sibling = last;
    }
}

void CXmlDocument::AssignDepths(RecordId root) {
    std::uint32_t level = root ? At(root).depth + 1 : 0;
    RecordId cur = At(root).first_child;
    while (cur) {
        At(cur).depth = level;
        if (At(cur).first_child) {
            cur = At(cur).first_child;
            ++level;
            continue;
        }
        while (cur) {
            if (At(cur).next_sibling) {
                cur = At(cur).next_sibling;
                break;
            }
            cur = At(cur).parent;
            --level;
            if (cur == root) cur = 0;
        }
    }
}

// ---- parsing ----

namespace {

struct OpenElement {
    RecordId record;
    std::size_t name_start;
    std::size_t name_length;
};

std::wstring Quoted(std::wstring_view text) {
    return L"'" + std::wstring(text) + L"'";
}

}  // namespace

// Closes the open elements (outermost first) as not ended; their children become their following
// siblings below `outer`. Going outermost first moves every child once.
void CXmlDocument::CloseNotEnded(const RecordId* open, std::size_t count, RecordId outer) {
    for (std::size_t j = 0; j < count; ++j) {
        ElementRecord& e = At(open[j]);
        e.flags |= kNotEnded;
        e.length = e.start_tag_length;
        e.end_tag_length = 0;
        const RecordId first = e.first_child;
        if (!first) continue;
        const RecordId last = At(first).previous_sibling;
        e.first_child = 0;
        const RecordId outer_first = At(outer).first_child;
        LinkChain(outer, At(outer_first).previous_sibling, first, last);
    }
}

std::wstring CXmlDocument::BuildRecords(std::wstring_view text, RecordId root, std::uint32_t extra) {
    std::wstring message;
    std::vector<OpenElement> open;
    std::vector<RecordId> open_ids;
    open.reserve(6);
    open_ids.reserve(6);
    const bool ignore_case = IgnoreCase();
    auto current = [&]() { return open.empty() ? root : open.back().record; };
    auto close_from = [&](std::size_t keep) {
        open_ids.clear();
        for (std::size_t j = keep; j < open.size(); ++j) open_ids.push_back(open[j].record);
        CloseNotEnded(open_ids.data(), open_ids.size(), keep ? open[keep - 1].record : root);
        open.resize(keep);
    };

    std::size_t pos = 0;
    for (;;) {
        const Node node = NextNode(text, pos);
        if (node.kind == kNodeEnd) break;
        pos = node.start + node.length;
        switch (node.kind) {
            case kNodeElement: {
                const RecordId parent = current();
                const RecordId id = NewRecord();
                ElementRecord& r = At(id);
                r.start = node.start;
                r.start_tag_length = node.length;
                r.flags = extra;
                LinkLastChild(parent, id);
                if (node.empty_element) {
                    r.length = node.length;
                } else {
                    if (open.size() == open.capacity()) open.reserve(open.capacity() * 2 + 6);
                    open.push_back({id, node.name_start, node.name_length});
                }
                break;
            }
            case kNodeEndTag: {
                const std::wstring_view name = text.substr(node.name_start, node.name_length);
                std::size_t match = open.size();
                while (match > 0) {
                    const OpenElement& e = open[match - 1];
                    if (NameMatches(text.substr(e.name_start, e.name_length), name, ignore_case)) break;
                    --match;
                }
                if (match == 0) {
                    At(current()).flags |= kIllFormed;
                    At(root).flags |= kIllFormed;
                    if (message.empty())
                        message = L"No start tag for end tag " + Quoted(name) + L" at offset " +
                                  DecimalText(node.start);
                    break;
                }
                if (match < open.size()) {
                    At(root).flags |= kIllFormed;
                    if (message.empty()) {
                        // Innermost first: its text is the one that is kept.
                        const OpenElement& inner = open.back();
                        message = L"End tag " + Quoted(name) + L" at offset " + DecimalText(node.start + 1) +
                                  L" does not match start tag " +
                                  Quoted(text.substr(inner.name_start, inner.name_length)) + L" at offset " +
                                  DecimalText(At(inner.record).start);
                    }
                    close_from(match);
                }
                ElementRecord& r = At(open.back().record);
                r.length = node.start + node.length - r.start;
                r.end_tag_length = node.length;
                open.pop_back();
                break;
            }
            case kNodeError:
                At(root).flags |= kIllFormed;
                At(current()).flags |= kContainsIllFormed;
                if (message.empty()) message = NodeErrorMessage(node);
                break;
            default:
                break;
        }
    }
    if (!open.empty()) {
        At(root).flags |= kIllFormed;
        if (message.empty()) {
            const OpenElement& inner = open.back();
            message = L"Element " + Quoted(text.substr(inner.name_start, inner.name_length)) +
                      L" at offset " + DecimalText(At(inner.record).start) + L" not ended";
        }
        close_from(0);
    }
    return message;
}

bool CXmlDocument::Parse() {
    const std::wstring status = m_loadStatus;
    ResetIndex(m_text.size() / 64 + 8);
    std::wstring message;
    if (m_text.empty()) {
        message = L"Empty document";
    } else {
        message = BuildRecords(m_text, 0, 0);
        AssignDepths(0);
        ElementRecord& doc = At(0);
        doc.length = m_text.size();
        if (!doc.first_child) {
            message = L"No root element";
        } else if (At(doc.first_child).next_sibling && !(At(doc.first_child).flags & kNotEnded)) {
            // A root that never ended has its content as siblings; the
            // not-ended text says more than "has sibling" then.
            message = L"Root element has sibling";
        }
    }
    if (status.empty()) {
        m_error = message;
    } else {
        m_error = message.empty() ? status : status + L", " + message;
    }
    m_parent = m_main = m_child = 0;
    return IsWellFormed();
}

bool CXmlDocument::IsWellFormed() const {
    const ElementRecord& doc = At(0);
    return !(doc.flags & kIllFormed) && doc.first_child && !At(doc.first_child).next_sibling;
}

bool CXmlDocument::SetDocument(const wchar_t* text) {
    return SetDocument(text ? std::wstring_view(text) : std::wstring_view());
}

bool CXmlDocument::SetDocument(std::wstring_view text) {
    m_text.assign(text.data(), text.size());
    m_error.clear();
    m_loadStatus.clear();
    return Parse();
}

bool CXmlDocument::LoadFile(const std::wstring& path) {
    std::string bytes;
    std::wstring failure;
    m_text.clear();
    ResetIndex(8);
    if (!io::ReadFileBytes(path, bytes, failure)) {
        m_error = m_loadStatus = failure;
        return false;
    }
    m_text = io::Utf8ToUtf16(bytes);
    m_loadStatus = DecimalText(bytes.size()) + L" bytes to " + DecimalText(m_text.size()) + L" wide chars";
    m_error = m_loadStatus;
    return true;
}

bool CXmlDocument::SaveFile(const std::wstring& path) {
    const std::string bytes = io::Utf16ToUtf8(m_text);
    std::wstring failure;
    if (!io::WriteFileBytes(path, bytes, failure)) {
        m_saveStatus = failure;
        return false;
    }
    m_saveStatus = DecimalText(m_text.size()) + L" wide chars to " + DecimalText(bytes.size()) + L" bytes";
    return true;
}

// ---- navigation ----

std::wstring_view CXmlDocument::NameAt(std::size_t start) const {
    std::size_t end = start + 1;
    while (end < m_text.size() && !EndsName(m_text[end])) ++end;
    return std::wstring_view(m_text).substr(start + 1, end - start - 1);
}

bool CXmlDocument::Matches(RecordId record, std::wstring_view name) const {
    if (name.empty()) return true;
    return NameMatches(NameAt(At(record).start), name, IgnoreCase());
}

bool CXmlDocument::FindElement(std::wstring_view name) {
    RecordId r = m_main ? At(m_main).next_sibling : At(m_parent).first_child;
    for (; r; r = At(r).next_sibling) {
        if (Matches(r, name)) {
            m_main = r;
            m_parent = At(r).parent;
            m_child = 0;
            return true;
        }
    }
    return false;
}

bool CXmlDocument::FindChildElement(std::wstring_view name) {
    if (!m_main && !FindElement()) return false;
    RecordId r = m_child ? At(m_child).next_sibling : At(m_main).first_child;
    for (; r; r = At(r).next_sibling) {
        if (Matches(r, name)) {
            m_child = r;
            m_main = At(r).parent;
            m_parent = At(m_main).parent;
            return true;
        }
    }
    return false;
}

bool CXmlDocument::IntoElement() {
    if (!m_main) return false;
    m_parent = m_main;
    m_main = m_child;
    m_child = 0;
    return true;
}

bool CXmlDocument::OutOfElement() {
    if (!m_parent) return false;
    m_child = m_main;
    m_main = m_parent;
    m_parent = At(m_main).parent;
    return true;
}

void CXmlDocument::ResetChildPosition() {
    m_child = 0;
}

void CXmlDocument::ResetMainPosition() {
    m_main = m_child = 0;
}

void CXmlDocument::ResetPosition() {
    m_parent = m_main = m_child = 0;
}

// ---- reading ----

std::wstring CXmlDocument::GetTagName(RecordId record) const {
    if (!record || record >= m_nextFree || (At(record).flags & kDeleted)) return {};
    return std::wstring(NameAt(At(record).start));
}

std::wstring CXmlDocument::GetData(RecordId record) const {
    if (!record || record >= m_nextFree) return {};
    const ElementRecord& r = At(record);
    if (r.flags & kDeleted || !r.end_tag_length) return {};
    return m_text.substr(r.start + r.start_tag_length, r.length - r.start_tag_length - r.end_tag_length);
}

std::wstring CXmlDocument::GetAttribute(RecordId record, std::wstring_view name) const {
    if (!record || record >= m_nextFree || name.empty()) return {};
    const ElementRecord& r = At(record);
    if (r.flags & kDeleted) return {};
    const std::wstring_view tag = std::wstring_view(m_text).substr(r.start, r.start_tag_length);
    const bool ignore_case = IgnoreCase();
    std::size_t i = 1;
    while (i < tag.size() && !EndsName(tag[i])) ++i;
    auto skip_space = [&]() {
        while (i < tag.size() && IsXmlSpace(tag[i])) ++i;
    };
    // A quoted token runs to its matching quote; returns [begin, end) of the
    // whole token, quotes included.
    auto quoted = [&]() {
        const wchar_t q = tag[i];
        std::size_t close = tag.find(q, i + 1);
        i = close == kNotFound ? tag.size() : close + 1;
    };
    for (;;) {
        skip_space();
        if (i >= tag.size()) return {};
        const wchar_t c = tag[i];
        if (c == L'/' || c == L'>' || c == L'?') return {};
        const std::size_t name_begin = i;
        if (c == L'"' || c == L'\'') {
            quoted();
        } else {
            while (i < tag.size()) {
                const wchar_t t = tag[i];
                if (t == L'=' || IsXmlSpace(t) || t == L'>' || t == L'/' || t == L'?') break;
                ++i;
            }
        }
        const std::wstring_view token = tag.substr(name_begin, i - name_begin);
        skip_space();
        std::wstring_view value;
        if (i < tag.size() && tag[i] == L'=') {
            ++i;
            skip_space();
            if (i < tag.size() && (tag[i] == L'"' || tag[i] == L'\'')) {
                const std::size_t begin = i;
                quoted();
                const bool closed = i - begin >= 2 && tag[i - 1] == tag[begin];
                value = tag.substr(begin + 1, i - begin - (closed ? 2 : 1));
            } else {
                const std::size_t begin = i;
                while (i < tag.size() && !IsXmlSpace(tag[i]) && tag[i] != L'>') ++i;
                value = tag.substr(begin, i - begin);
            }
        }
        if (!token.empty() && NameMatches(token, name, ignore_case)) return DecodeEntities(value);
    }
}

}  // namespace xml
