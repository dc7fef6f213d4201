#include "download/file_list_text.h"

#include <rapidjson/reader.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>

#include <json/value.h>

#include "download/file_list_check.h"

// Json::Reader is the lenient reader the list has always been read with; it is kept for
// documents only it accepts (leading zeros, raw control characters in strings and the
// like), within a memory budget.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <json/reader.h>
#pragma GCC diagnostic pop

namespace {

// Found without a copy of the key: the tree's find takes a range of characters.
constexpr std::string_view kFileList = "FileList";

// Json::Reader refuses documents nested deeper than this.
constexpr unsigned kMaxDepth = 1000;
// A tree of Json::Value costs up to about this much per value; the lenient reader is used
// only where the tree stays within the budget.
constexpr size_t kBytesPerTreeValue = 200;
constexpr size_t kTreeBudget = 256 * 1024 * 1024;

using Member = std::optional<Json::Value>;

Json::Value Get(const Member& member, const Json::Value& fallback) {
    return member ? *member : fallback;
}

struct RootFields {
    int kind = 0;  // 0 nothing yet, 1 object, 2 null, 3 anything else
    Member version;
    Member url;
    Member totalCount;
    Member totalSize;
    int fileLists = 0;         // "FileList" members seen; the last one counts
    bool lastIsArray = false;  // whether that last one is an array
    size_t lastObjects = 0;    // objects in it
};

struct ItemFields {
    Member name;
    Member size;
    Member checksum;
};

// Turns entries into the model as the document gives them, keeping only what is processed.
class EntrySink {
public:
    EntrySink(CFileList& list, int32_t totalCount, std::string* problem)
        : m_list(list), m_totalCount(totalCount), m_problem(problem) {}

    // False when a member cannot be converted: the whole document is refused then.
    bool Add(const ItemFields& item) {
        const int32_t index = m_index++;
        const bool processed = index < m_totalCount && !m_refused;
        try {
            FileEntry entry;
            entry.Name = Get(item.name, "").asString();
            const char* sizeProblem = processed ? SizeProblem(item.size) : nullptr;
            if (sizeProblem == nullptr) {
                entry.Size = Get(item.size, 0).asUInt64();
            }
            entry.CheckSum = Get(item.checksum, "").asString();
            if (!processed) {
                return true;
            }
            if (sizeProblem != nullptr) {
                return Refuse(index, entry.Name, sizeProblem);
            }
            if (!IsSafeRelativeName(entry.Name)) {
                return Refuse(index, entry.Name, "unsafe name");
            }
            if (!IsValidChecksumText(entry.CheckSum)) {
                return Refuse(index, entry.Name, "checksum is not 32 upper-case hex digits");
            }
            m_list.FileList.push_back(std::move(entry));
            return true;
        } catch (const std::exception&) {
            // A member that cannot be converted refuses the document as a whole, whatever
            // an earlier entry showed.
            if (m_problem != nullptr) {
                m_problem->clear();
            }
            return false;
        }
    }

    bool Refused() const { return m_refused; }
    int32_t Count() const { return m_index; }

private:
    static const char* SizeProblem(const Member& size) {
        if (!size) {
            return "Size is missing";
        }
        if (size->isNull()) {
            return "Size is null";
        }
        if (size->isBool()) {
            return "Size is a boolean";
        }
        if ((size->isInt64() && size->asInt64() < 0) ||
            (size->isDouble() && size->asDouble() < 0)) {
            return "Size is negative";
        }
        return nullptr;
    }

    bool Refuse(int32_t index, const std::string& name, const char* what) {
        m_refused = true;
        if (m_problem != nullptr) {
            *m_problem = DescribeEntry(index, name, what);
        }
        return true;
    }

    CFileList& m_list;
    int32_t m_totalCount;
    std::string* m_problem;
    int32_t m_index = 0;
    bool m_refused = false;
};

// One pass of the event reader over the document: the root's members, or the entries of
// the last FileList.
class Scan : public rapidjson::BaseReaderHandler<rapidjson::UTF8<>, Scan> {
public:
    Scan(RootFields& root, EntrySink* sink) : m_root(root), m_sink(sink) {}

    bool Null() { return Scalar(Json::Value()); }
    bool Bool(bool b) { return Scalar(Json::Value(b)); }
    bool Int(int i) { return Scalar(Json::Value(static_cast<Json::Int64>(i))); }
    bool Uint(unsigned u) { return Scalar(Json::Value(static_cast<Json::Int64>(u))); }
    bool Int64(int64_t i) { return Scalar(Json::Value(static_cast<Json::Int64>(i))); }
    bool Uint64(uint64_t u) {
        // As the lenient reader: signed while it fits.
        return Scalar(u <= static_cast<uint64_t>(INT64_MAX)
                          ? Json::Value(static_cast<Json::Int64>(u))
                          : Json::Value(static_cast<Json::UInt64>(u)));
    }
    bool Double(double d) { return Scalar(Json::Value(d)); }
    // Numbers arrive as their text. Plain integers are read here; anything else (a fraction,
    // an exponent, more than 19 digits) goes through the lenient reader's own conversion, so
    // both readers give the same value and RapidJSON's decimal conversion, whose
    // normalisation calls clz(0) on some inputs, never runs.
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        const std::string_view number(text, length);
        const bool negative = !number.empty() && number.front() == '-';
        const std::string_view digits = negative ? number.substr(1) : number;
        const bool plain = !digits.empty() && digits.size() <= 19 &&
                           digits.find_first_not_of("0123456789") == std::string_view::npos;
        if (plain) {
            uint64_t value = 0;
            for (const char c : digits) {
                value = value * 10 + static_cast<uint64_t>(c - '0');
            }
            if (!negative) {
                return Uint64(value);
            }
            if (value <= static_cast<uint64_t>(INT64_MAX)) {
                return Int64(-static_cast<int64_t>(value));
            }
        }
        Json::Value value;
        Json::Reader reader;
        return reader.parse(text, text + length, value, false) && Scalar(value);
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return Scalar(Json::Value(text, text + length));
    }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        if (m_level == 1) {
            m_key.assign(text, length);
        } else if (m_level == 3 && m_inItem) {
            m_itemKey.assign(text, length);
        }
        return true;
    }
    bool StartObject() {
        if (m_level == 0) {
            m_root.kind = 1;
        } else if (m_level == 1) {
            SetRoot(Json::Value(Json::objectValue));
        } else if (m_level == 2 && m_inList) {
            m_inItem = true;
            m_item = ItemFields{};
        } else if (m_level == 2 && m_countList) {
            ++m_root.lastObjects;
        } else if (m_level == 3 && m_inItem) {
            SetItem(Json::Value(Json::objectValue));
        }
        return Deeper();
    }
    bool EndObject(rapidjson::SizeType) {
        --m_level;
        if (m_level == 2 && m_inItem) {
            m_inItem = false;
            if (!m_sink->Add(m_item)) {
                m_convertFailed = true;
                return false;
            }
        }
        return true;
    }
    bool StartArray() {
        if (m_level == 0) {
            m_root.kind = 3;
        } else if (m_level == 1) {
            if (m_key == "FileList") {
                const int index = m_fileLists++;
                if (m_sink == nullptr) {
                    ++m_root.fileLists;
                    m_root.lastIsArray = true;
                    m_root.lastObjects = 0;
                    m_countList = true;
                } else {
                    m_inList = index == m_root.fileLists - 1;
                }
            } else {
                SetRoot(Json::Value(Json::arrayValue));
            }
        } else if (m_level == 3 && m_inItem) {
            SetItem(Json::Value(Json::arrayValue));
        }
        return Deeper();
    }
    bool EndArray(rapidjson::SizeType) {
        --m_level;
        if (m_level == 1) {
            m_inList = false;
            m_countList = false;
        }
        return true;
    }

    bool ConvertFailed() const { return m_convertFailed; }
    bool TooDeep() const { return m_tooDeep; }

private:
    bool Deeper() {
        if (++m_level > kMaxDepth) {
            m_tooDeep = true;
            return false;
        }
        return true;
    }
    bool Scalar(Json::Value value) {
        if (m_level == 0) {
            m_root.kind = value.isNull() ? 2 : 3;
        } else if (m_level == 1) {
            SetRoot(std::move(value));
        } else if (m_level == 3 && m_inItem) {
            SetItem(std::move(value));
        }
        return true;
    }
    void SetRoot(Json::Value value) {
        if (m_sink != nullptr) {
            if (m_key == "FileList") {
                ++m_fileLists;
            }
            return;
        }
        if (m_key == "Version") {
            m_root.version = std::move(value);
        } else if (m_key == "URL") {
            m_root.url = std::move(value);
        } else if (m_key == "TotalCount") {
            m_root.totalCount = std::move(value);
        } else if (m_key == "TotalSize") {
            m_root.totalSize = std::move(value);
        } else if (m_key == "FileList") {
            ++m_root.fileLists;
            m_root.lastIsArray = false;
            m_root.lastObjects = 0;
        }
    }
    void SetItem(Json::Value value) {
        if (m_itemKey == "Name") {
            m_item.name = std::move(value);
        } else if (m_itemKey == "Size") {
            m_item.size = std::move(value);
        } else if (m_itemKey == "CheckSum") {
            m_item.checksum = std::move(value);
        }
    }

    RootFields& m_root;
    EntrySink* m_sink;  // null in the first pass
    unsigned m_level = 0;
    std::string m_key;
    std::string m_itemKey;
    int m_fileLists = 0;
    bool m_inList = false;
    bool m_countList = false;
    bool m_inItem = false;
    ItemFields m_item;
    bool m_convertFailed = false;
    bool m_tooDeep = false;
};

enum class Outcome { Read, NotStandard, Refused };

constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag |
                            rapidjson::kParseNumbersAsStringsFlag |
                            rapidjson::kParseFullPrecisionFlag | rapidjson::kParseCommentsFlag;

bool ParsePass(std::string_view text, Scan& scan) {
    rapidjson::MemoryStream stream(text.data(), text.size());
    rapidjson::Reader reader;
    return !reader.Parse<kFlags>(stream, scan).IsError();
}

// Applies the root's members to list in the model's order; false when one cannot be
// converted. Returns through *stop true when only the version was to be read.
bool ApplyRoot(const RootFields& root, CFileList& list, const char* onlyVersion, bool* stop) {
    if (root.kind == 3) {
        return false;  // members of anything but an object cannot be read
    }
    try {
        list.Version = Get(root.version, "").asString();
        *stop = onlyVersion != nullptr && list.Version != onlyVersion;
        if (*stop) {
            return true;
        }
        list.URL = Get(root.url, "").asString();
        list.TotalCount = Get(root.totalCount, 0).asInt();
        list.TotalSize = Get(root.totalSize, 0).asUInt64();
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void ReserveEntries(CFileList& list, size_t objects) {
    if (list.TotalCount > 0) {
        list.FileList.reserve(std::min(objects, static_cast<size_t>(list.TotalCount)));
    }
}

Outcome ReadByEvents(std::string_view text, CFileList& list, const char* onlyVersion,
                     std::string* problem) {
    RootFields root;
    {
        Scan first(root, nullptr);
        if (!ParsePass(text, first)) {
            return first.TooDeep() ? Outcome::Refused : Outcome::NotStandard;
        }
    }
    bool stop = false;
    if (!ApplyRoot(root, list, onlyVersion, &stop)) {
        return Outcome::Refused;
    }
    if (stop || !root.lastIsArray) {
        return Outcome::Read;
    }
    ReserveEntries(list, root.lastObjects);
    EntrySink sink(list, list.TotalCount, problem);
    Scan second(root, &sink);
    if (!ParsePass(text, second)) {
        return Outcome::Refused;
    }
    return sink.Refused() ? Outcome::Refused : Outcome::Read;
}

// The same reading through the lenient reader's tree, for documents only it accepts.
Outcome ReadByTree(std::string_view text, CFileList& list, const char* onlyVersion,
                   std::string* problem) {
    size_t values = 1;
    for (char c : text) {
        values += c == ',' || c == '[' || c == '{';
    }
    if (values > kTreeBudget / kBytesPerTreeValue) {
        return Outcome::Refused;
    }
    Json::Value tree;
    try {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        Json::Reader reader;
#pragma GCC diagnostic pop
        if (!reader.parse(text.data(), text.data() + text.size(), tree, false)) {
            return Outcome::Refused;
        }
    } catch (const std::exception&) {
        return Outcome::Refused;
    }
    RootFields root;
    root.kind = tree.isObject() ? 1 : tree.isNull() ? 2 : 3;
    auto member = [](const Json::Value& object, const char* key) -> Member {
        const Json::Value* found = object.find(key, key + std::strlen(key));
        return found != nullptr ? Member(*found) : std::nullopt;
    };
    const Json::Value* entries = nullptr;
    if (root.kind == 1) {
        root.version = member(tree, "Version");
        root.url = member(tree, "URL");
        root.totalCount = member(tree, "TotalCount");
        root.totalSize = member(tree, "TotalSize");
        entries = tree.find(kFileList.data(), kFileList.data() + kFileList.size());
    }
    bool stop = false;
    if (!ApplyRoot(root, list, onlyVersion, &stop)) {
        return Outcome::Refused;
    }
    if (stop || entries == nullptr || !entries->isArray()) {
        return Outcome::Read;
    }
    ReserveEntries(list, entries->size());
    EntrySink sink(list, list.TotalCount, problem);
    for (const Json::Value& item : *entries) {
        if (!item.isObject()) {
            continue;
        }
        if (!sink.Add({member(item, "Name"), member(item, "Size"), member(item, "CheckSum")})) {
            return Outcome::Refused;
        }
    }
    return sink.Refused() ? Outcome::Refused : Outcome::Read;
}

}  // namespace

bool ReadFileListDocument(std::string_view text, CFileList& list, const char* onlyVersion,
                          std::string* problem) {
    if (problem != nullptr) {
        problem->clear();
    }
    // The text ends at its first zero byte, as the document always has.
    text = text.substr(0, std::min(text.size(), text.find('\0')));
    // Lists saved on Windows often begin with a byte-order mark.
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    list = CFileList{};
    Outcome outcome = ReadByEvents(text, list, onlyVersion, problem);
    if (outcome == Outcome::NotStandard) {
        list = CFileList{};
        outcome = ReadByTree(text, list, onlyVersion, problem);
    }
    if (outcome != Outcome::Read) {
        list = CFileList{};
        return false;
    }
    return true;
}
