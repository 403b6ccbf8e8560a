// Editing: every change replaces one range of the text and then fixes the
// index so that it reads exactly as a fresh parse of the new text would.
#include "xml_document.h"
#include "xml_tokenizer.h"

namespace xml {

namespace {

constexpr std::uint32_t kNotPending = ~static_cast<std::uint32_t>(kPending);

}  // namespace

RecordId CXmlDocument::ParseFragment(std::wstring_view text) {
    const RecordId fragment = NewRecord();
    At(fragment).flags = kPending;
    BuildRecords(text, fragment, kPending);
    return fragment;
}

void CXmlDocument::ReleaseRecord(RecordId record) {
    ElementRecord& r = At(record);
    r = ElementRecord{};
    r.flags = kDeleted;
    r.next_sibling = m_freeList;
    m_freeList = record;
}

RecordId CXmlDocument::Insert(RecordId parent, RecordId reference, std::wstring_view text, std::size_t begin,
                              std::size_t end, RecordId fragment, unsigned options) {
    const bool replace = (options & kInsertReplaceContent) != 0;
    const bool before = (options & kInsertBefore) != 0;
    const bool line_breaks = (options & kInsertNoLineBreaks) == 0;
    if (replace) reference = 0;  // the reference would be removed with the content

    ElementRecord* p = &At(parent);
    // A written "<x/>"; an element whose end tag never came also has
    // length == start-tag length, but no "/>" to open up.
    const bool empty_tag =
        parent != 0 && p->end_tag_length == 0 && !(p->flags & kNotEnded) && p->length == p->start_tag_length;
    const std::size_t content_end = parent ? p->start + p->length - p->end_tag_length : m_text.size();
    const std::size_t content_begin = parent ? p->start + p->start_tag_length : 0;

    if (replace && !empty_tag) {
        FreeSubtree(p->first_child);
        p = &At(parent);
        p->first_child = 0;
    }

    // 1. Where the text goes.
    std::size_t at;
    if (reference) {
        const ElementRecord& r = At(reference);
        at = before ? r.start : r.start + r.length;
    } else if (empty_tag) {
        at = p->start + p->start_tag_length - 2;  // the '/' of "/>"
    } else if (replace || before) {
        at = content_begin;
    } else {
        at = content_end;
    }
    std::size_t replace_end = at;
    if (replace && !empty_tag) replace_end = content_end;

    // 2. Land after existing line breaks, before the next tag; never past
    // the parent's content (an element that was not ended has none).
    if (!((options & (kInsertReplaceContent | kInsertNoLineBreaks)) && !empty_tag)) {
        std::size_t i = at;
        while (i < content_end && IsXmlSpace(m_text[i])) ++i;
        if (i == content_end || m_text[i] == L'<') at = replace_end = i;
    }

    // 3.-5. The inserted text.
    std::wstring inserted;
    std::wstring name;
    if (empty_tag) {
        name = GetTagName(parent);
        inserted = line_breaks ? L">\r\n" : L">";
        replace_end = at + 1;  // the '/' goes, the '>' stays
    } else if (!replace && parent && p->end_tag_length &&
               p->length == p->start_tag_length + p->end_tag_length) {
        inserted = L"\r\n";
    }
    const std::size_t fragment_at = at + inserted.size();
    inserted.append(text.substr(begin, end - begin));
    if (line_breaks) inserted.append(L"\r\n");
    if (empty_tag) inserted.append(L"</").append(name);

    // 6. Replace the range and fix the index.
    const std::size_t removed = replace_end - at;
    m_text.replace(at, removed, inserted);
    for (RecordId id = 1; id < m_nextFree; ++id) {
        ElementRecord& r = At(id);
        if (r.flags & (kDeleted | kPending)) continue;
        if (r.start >= replace_end) r.start = r.start - removed + inserted.size();
    }
    for (RecordId a = parent; a; a = At(a).parent) At(a).length = At(a).length - removed + inserted.size();
    p = &At(parent);
    if (empty_tag) {
        p->start_tag_length -= 1;
        p->end_tag_length = name.size() + 3;
    }
    At(0).length = m_text.size();

    RecordId last = 0;
    const RecordId first = At(fragment).first_child;
    if (first) {
        last = At(first).previous_sibling;
        // Fragment offsets are relative to text; walk its whole subtree.
        std::vector<RecordId> pending{first};
        while (!pending.empty()) {
            RecordId r = pending.back();
            pending.pop_back();
            for (; r; r = At(r).next_sibling) {
                At(r).start = At(r).start - begin + fragment_at;
                At(r).flags &= kNotPending;
                if (At(r).first_child) pending.push_back(At(r).first_child);
            }
        }
        RecordId after;
        if (reference) {
            after = before ? ((At(reference).flags & kFirstChild) ? 0 : At(reference).previous_sibling)
                           : reference;
        } else if (replace || before || !At(parent).first_child) {
            after = 0;
        } else {
            after = At(At(parent).first_child).previous_sibling;
        }
        At(fragment).first_child = 0;
        LinkChain(parent, after, first, last);
        AssignDepths(parent);
    }
    if (At(fragment).flags & kIllFormed) At(0).flags |= kIllFormed;
    ReleaseRecord(fragment);
    return last;
}

bool CXmlDocument::AddElement(std::wstring_view name) {
    std::wstring tag = L"<";
    tag.append(name).append(L"/>");
    const RecordId fragment = ParseFragment(tag);
    const RecordId added = Insert(m_parent, m_main, tag, 0, tag.size(), fragment, 0);
    if (added) m_main = added;
    m_child = 0;
    return true;
}

bool CXmlDocument::SetElementContent(std::wstring_view text) {
    if (!m_main) return false;
    // The children go first so that the fragment can reuse their records.
    m_child = 0;
    FreeSubtree(At(m_main).first_child);
    At(m_main).first_child = 0;
    const RecordId fragment = ParseFragment(text);
    const bool well_formed = !(At(fragment).flags & kIllFormed);
    Insert(m_main, 0, text, 0, text.size(), fragment, kInsertReplaceContent | kInsertNoLineBreaks);
    return well_formed;
}

bool CXmlDocument::AddSubDocument(std::wstring_view text, unsigned options) {
    const bool as_child = (options & kInsertAsChild) != 0;
    if (as_child && !m_main) return false;
    const RecordId fragment = ParseFragment(text);
    const RecordId first = At(fragment).first_child;
    const bool ill_formed = (At(fragment).flags & kIllFormed) != 0;
    std::size_t begin = 0, end = text.size();
    bool well_formed = false;
    if (!ill_formed && first) {
        const ElementRecord& last = At(At(first).previous_sibling);
        begin = At(first).start;
        end = last.start + last.length;
        well_formed = At(first).next_sibling == 0;
    } else {
        options |= kInsertNoLineBreaks;
    }
    if (options & kInsertReplaceContent) {
        // The content goes, and with it the position that pointed into it.
        if (as_child) {
            m_child = 0;
        } else {
            m_main = m_child = 0;
        }
    }
    const RecordId parent = as_child ? m_main : m_parent;
    const RecordId reference = as_child ? m_child : m_main;
    const RecordId added = Insert(parent, reference, text, begin, end, fragment, options);
    if (added) {
        if (as_child) {
            m_child = added;
        } else {
            m_main = added;
            m_child = 0;
        }
    }
    return well_formed;
}

}  // namespace xml
