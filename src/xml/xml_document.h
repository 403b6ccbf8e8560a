#pragma once
// A position-based XML document: the whole text plus an index of its
// elements, each known by offsets into that text. Reading a value takes a
// slice of the text; editing replaces a range and keeps every offset and
// link of the index right.
//
// Text is UTF-16 code units in wchar_t (see xml_tokenizer.h for why).
// Malformed input never throws: it shows in the well-formed result and
// ErrorText(); the index covers what could be parsed. Only out of memory
// escapes as an exception. One thread at a time.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace xml {

using RecordId = std::uint32_t;

// Per-element flags.
enum ElementFlags : std::uint32_t {
    kIllFormed = 0x1,          // the element (or, on record 0, the document) is ill-formed
    kContainsIllFormed = 0x2,  // an error node appeared inside it
    kNotEnded = 0x4,           // its end tag never came; it ends with its start tag
    kFirstChild = 0x8,         // first child of its parent
    kDeleted = 0x10,           // on the free list
    kPending = 0x20,           // built by an edit, not linked into the document yet
};

// Plain data so that index blocks can be allocated without touching every
// record; value-initialise (ElementRecord{}) for an all-zero record.
struct ElementRecord {
    std::size_t start;             // offset of '<'
    std::size_t length;            // '<' to the end of the end tag (or of "<x/>")
    std::size_t start_tag_length;  // '<' to '>' of the start tag
    std::size_t end_tag_length;    // 0 for "<x/>" and for elements not ended
    std::uint32_t depth;           // children of the document: 0
    std::uint32_t flags;
    RecordId parent;
    RecordId first_child;
    RecordId next_sibling;
    // For a first child this names the last child of the parent.
    RecordId previous_sibling;
};

// Document flags.
enum DocumentFlags : unsigned {
    kIgnoreNameCase = 8,  // element and attribute names compared without regard to case
};

// Options of the insert step behind the editing operations.
enum InsertOptions : unsigned {
    kInsertNoLineBreaks = 2,
    kInsertReplaceContent = 0x1000,
    kInsertBefore = 0x2000,
    kInsertAsChild = 0x4000,
};

// Name matching: compares over the stored name's length; the wanted name
// must end there or go on with one of " =/[]".
bool NameMatches(std::wstring_view stored, std::wstring_view wanted, bool ignore_case);

// Decodes the five predefined entities and numeric character references.
std::wstring DecodeEntities(std::wstring_view value);

class CXmlDocument {
public:
    CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    // Replaces the text (null: empty), clears the error text and parses.
    bool SetDocument(const wchar_t* text);
    bool SetDocument(std::wstring_view text);

    // Reads a UTF-8 file into the text and puts the load status into the
    // error text ("N bytes to M wide chars", or the runtime's failure text).
    // Does not parse: the index is emptied until Parse() runs.
    bool LoadFile(const std::wstring& path);

    // Parses the current text; true when well-formed.
    bool Parse();

    // Writes the text as UTF-8 (no byte order mark). The status
    // ("N wide chars to M bytes" or the failure text) is kept in SaveStatus().
    bool SaveFile(const std::wstring& path);

    const std::wstring& Text() const { return m_text; }
    const std::wstring& ErrorText() const { return m_error; }
    const std::wstring& SaveStatus() const { return m_saveStatus; }
    unsigned Flags() const { return m_flags; }
    void SetFlags(unsigned flags) { m_flags = flags; }
    bool IsWellFormed() const;

    // Navigation. Each search looks at the siblings after the current one.
    bool FindElement(std::wstring_view name = {});
    bool FindChildElement(std::wstring_view name = {});
    bool IntoElement();
    bool OutOfElement();
    void ResetChildPosition();
    void ResetMainPosition();  // before the first child of the parent
    void ResetPosition();      // before the first top-level element

    RecordId ParentPosition() const { return m_parent; }
    RecordId MainPosition() const { return m_main; }
    RecordId ChildPosition() const { return m_child; }

    // Reading.
    std::wstring GetTagName(RecordId record) const;
    std::wstring GetTagName() const { return GetTagName(m_main); }
    std::wstring GetChildTagName() const { return GetTagName(m_child); }
    // Content of the main element exactly as stored (entities not decoded).
    std::wstring GetData() const { return GetData(m_main); }
    std::wstring GetChildData() const { return GetData(m_child); }
    std::wstring GetData(RecordId record) const;
    // Decoded value of the first matching attribute of the main element;
    // empty when absent. An attribute written without "=value" reads as empty.
    std::wstring GetAttribute(std::wstring_view name) const { return GetAttribute(m_main, name); }
    std::wstring GetAttribute(RecordId record, std::wstring_view name) const;

    // Editing.
    // Adds "<name/>" after the main element (or at the end of the parent)
    // and makes it the main element.
    bool AddElement(std::wstring_view name);
    // Replaces the main element's content by markup text, inserted as it
    // comes (no escaping). False when there is no main element (nothing
    // changes) or when the text is not well-formed markup (it is inserted).
    bool SetElementContent(std::wstring_view text);
    // Inserts a fragment after (kInsertBefore: before) the main element, or
    // with kInsertAsChild relative to the child position inside the main
    // element. The last inserted top-level element becomes the main (child)
    // position. Returns the fragment's well-formed flag.
    bool AddSubDocument(std::wstring_view text, unsigned options = 0);

    // The index, for inspection. Record 0 is the document itself.
    RecordId RecordCount() const { return m_nextFree; }
    const ElementRecord& Record(RecordId id) const { return At(id); }

private:
    static constexpr std::size_t kBlockBits = 16;
    static constexpr std::size_t kBlockSize = std::size_t(1) << kBlockBits;  // records per block

    ElementRecord& At(RecordId id) { return m_blocks[id >> kBlockBits][id & (kBlockSize - 1)]; }
    const ElementRecord& At(RecordId id) const { return m_blocks[id >> kBlockBits][id & (kBlockSize - 1)]; }

    void ResetIndex(std::size_t expected_records);
    void EnsureRoom(std::size_t records);
    RecordId NewRecord();
    void FreeSubtree(RecordId first);
    bool IgnoreCase() const { return (m_flags & kIgnoreNameCase) != 0; }
    std::wstring_view NameAt(std::size_t start) const;
    bool Matches(RecordId record, std::wstring_view name) const;

    void LinkLastChild(RecordId parent, RecordId record);
    void LinkChain(RecordId parent, RecordId after, RecordId first, RecordId last);
    void AssignDepths(RecordId root);

    // Builds records for text (offsets relative to it) below root; records
    // get flag `extra` too. Returns the first parse message (or empty).
    std::wstring BuildRecords(std::wstring_view text, RecordId root, std::uint32_t extra);
    void CloseNotEnded(const RecordId* open, std::size_t count, RecordId outer);

    // Parses text as a fragment below a new temporary record (returned).
    RecordId ParseFragment(std::wstring_view text);
    void ReleaseRecord(RecordId record);
    // The insert step: puts text[begin, end) (whose elements hang below
    // `fragment`) into parent, after/before reference, and releases
    // `fragment`. Returns the last inserted top-level element (or 0).
    RecordId Insert(RecordId parent, RecordId reference, std::wstring_view text, std::size_t begin,
                    std::size_t end, RecordId fragment, unsigned options);

    std::wstring m_text;
    std::wstring m_error;
    std::wstring m_loadStatus;  // kept in front of parse errors until the next SetDocument/LoadFile
    std::wstring m_saveStatus;
    unsigned m_flags = 0;

    // Records in blocks; only the last block may be partly allocated.
    std::vector<std::unique_ptr<ElementRecord[]>> m_blocks;
    std::size_t m_room = 0;  // records allocated
    RecordId m_nextFree = 0;
    RecordId m_freeList = 0;  // deleted records chained through next_sibling

    RecordId m_parent = 0;
    RecordId m_main = 0;
    RecordId m_child = 0;
};

}  // namespace xml
