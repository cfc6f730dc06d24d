#include "properties/json_document.h"

#include <rapidjson/reader.h>
#include <rapidjson/writer.h>

#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/memory.h"

OrvelMutex jsonLock;

namespace {

const uint8_t kHeaderBytes[JsonDocument::kHeaderSize] = {
    0xB3, 0xEC, 0x09, 0x9A, 0x22, 0x92, 0x48, 0xFA, 0x83, 0xD0, 0x06, 0x84, 0x0B, 0xC9, 0x91, 0x02,
};

// The largest piece ReadExact asks a stream for, so that a length field that
// promises more than the stream holds does not allocate it all up front.
const uint32_t kReadPiece = 1u << 20;

// Forwards the parser's events to a document and ends the parse as soon as
// arrays and objects open deeper than kMaxNesting: the parser recurses once per
// level, and only this far.
class NestingBound {
  public:
    explicit NestingBound(JsonDocument::Document& document) : document_(document), depth_(0) {}

    bool Null() { return document_.Null(); }
    bool Bool(bool b) { return document_.Bool(b); }
    bool Int(int i) { return document_.Int(i); }
    bool Uint(unsigned u) { return document_.Uint(u); }
    bool Int64(int64_t i) { return document_.Int64(i); }
    bool Uint64(uint64_t u) { return document_.Uint64(u); }
    bool Double(double d) { return document_.Double(d); }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool copy) {
        return document_.RawNumber(text, length, copy);
    }
    bool String(const char* text, rapidjson::SizeType length, bool copy) {
        return document_.String(text, length, copy);
    }
    bool Key(const char* text, rapidjson::SizeType length, bool copy) {
        return document_.Key(text, length, copy);
    }
    bool StartObject() { return Open() && document_.StartObject(); }
    bool EndObject(rapidjson::SizeType members) {
        --depth_;
        return document_.EndObject(members);
    }
    bool StartArray() { return Open() && document_.StartArray(); }
    bool EndArray(rapidjson::SizeType elements) {
        --depth_;
        return document_.EndArray(elements);
    }

  private:
    bool Open() { return ++depth_ <= JsonDocument::kMaxNesting; }

    JsonDocument::Document& document_;
    unsigned depth_;
};

// Feeds a document from a zero-terminated text (GenericDocument::Populate).
class BoundedParse {
  public:
    explicit BoundedParse(const char* text) : text_(text), parsed_(false) {}
    bool operator()(JsonDocument::Document& document) {
        NestingBound handler(document);
        rapidjson::StringStream stream(text_);
        rapidjson::Reader reader;
        parsed_ = !reader.Parse<rapidjson::kParseDefaultFlags>(stream, handler).IsError();
        return parsed_;
    }
    bool Parsed() const { return parsed_; }

  private:
    const char* text_;
    bool parsed_;
};

// Reads exactly count bytes into buffer; false when a read returns 0 or less first.
bool ReadFully(Stream& stream, uint8_t* buffer, uint32_t count) {
    uint32_t got = 0;
    while (got < count) {
        const int n = stream.Read(buffer + got, count - got);
        if (n <= 0)
            return false;
        got += static_cast<uint32_t>(n) < count - got ? static_cast<uint32_t>(n) : count - got;
    }
    return true;
}

uint32_t ReadLittleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

void WriteLittleEndian32(uint32_t value, char* bytes) {
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

JsonDocument::JsonDocument() : document_(rapidjson::kObjectType) {}

JsonDocument::~JsonDocument() {}

bool JsonDocument::HasMember(const char* name, MemberIterator& position) {
    position = FindMember(name);
    return document_.IsObject() && position != document_.MemberEnd();
}

JsonDocument::MemberIterator JsonDocument::FindMember(const char* name) {
    if (!document_.IsObject() || name == 0)
        return MemberIterator();
    return document_.FindMember(name);
}

bool JsonDocument::SetMemberString(const char* name, const char* value) {
    MemberIterator position;
    if (!HasMember(name, position))
        return false;
    const char* text = value == 0 ? "" : value;
    position->value.SetString(text, static_cast<rapidjson::SizeType>(std::strlen(text)),
                              document_.GetAllocator());
    return true;
}

bool JsonDocument::SaveToStream(Stream& stream, const uint8_t* headerBytes) {
    const size_t prefix = kHeaderSize + kLengthSize;
    rapidjson::StringBuffer image;
    for (size_t i = 0; i < prefix; ++i)
        image.Put('\0');
    if (!WriteText(image))
        return false;
    const size_t size = image.GetSize();
    if (size > 0xFFFFFFFFu)
        return false;
    // The buffer's own storage: the prefix is filled in where it was reserved.
    char* bytes = const_cast<char*>(image.GetString());
    std::lock_guard<OrvelMutex> hold(jsonLock);
    std::memcpy(bytes, headerBytes == 0 ? kHeaderBytes : headerBytes, kHeaderSize);
    WriteLittleEndian32(static_cast<uint32_t>(size - prefix), bytes + kHeaderSize);
    const int written =
        stream.Write(reinterpret_cast<const uint8_t*>(bytes), static_cast<uint32_t>(size));
    return written >= 0 && static_cast<size_t>(written) == size;
}

bool JsonDocument::SaveToStream(Stream& stream) {
    return SaveToStream(stream, HeaderBytes());
}

bool JsonDocument::LoadFromStream(Stream& stream) {
    const uint32_t limit = LoadLimit();
    ByteVector header(HeaderSize() + 1);
    if (!ReadFully(stream, &header[0], HeaderSize()))
        return false;
    uint8_t lengthBytes[kLengthSize];
    if (!ReadFully(stream, lengthBytes, kLengthSize))
        return false;
    const uint32_t length = ReadLittleEndian32(lengthBytes);
    if (length == 0 || length > limit)
        return false;
    ByteVector text;
    if (!ReadExact(text, stream, length))
        return false;
    return TakeText(reinterpret_cast<const char*>(&text[0]));
}

bool JsonDocument::LoadFromBuffer(uint8_t* data, uint32_t size) {
    const uint32_t prefix = kHeaderSize + kLengthSize;
    if (data == 0 || size < prefix)
        return false;
    const uint32_t limit = LoadLimit();
    const uint32_t length = ReadLittleEndian32(data + kHeaderSize);
    if (length == 0 || length > limit)
        return false;
    if (static_cast<uint64_t>(prefix) + length + 1 > size)
        return false;
    data[prefix + length] = 0;
    return TakeText(reinterpret_cast<const char*>(data + prefix));
}

bool JsonDocument::WriteText(rapidjson::StringBuffer& text) {
    if (NestingDepth(document_) > kMaxNesting)
        return false;
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    return document_.Accept(writer);
}

void JsonDocument::Reset() {
    Document fresh(rapidjson::kObjectType);
    document_.Swap(fresh);
}

const uint8_t* JsonDocument::HeaderBytes() const {
    return kHeaderBytes;
}

uint32_t JsonDocument::HeaderSize() const {
    return kHeaderSize;
}

bool JsonDocument::ReadExact(ByteVector& buffer, Stream& stream, uint32_t n) {
    buffer.clear();
    uint32_t got = 0;
    while (got < n) {
        const uint32_t piece = n - got < kReadPiece ? n - got : kReadPiece;
        // Room for the terminating zero with the last piece, so that adding it
        // does not move the whole text again.
        if (piece == n - got)
            buffer.reserve(static_cast<size_t>(n) + 1);
        buffer.resize(static_cast<size_t>(got) + piece);
        if (!ReadFully(stream, &buffer[got], piece)) {
            ByteVector().swap(buffer);
            return false;
        }
        got += piece;
    }
    buffer.resize(static_cast<size_t>(n) + 1, 0);
    return true;
}

uint32_t JsonDocument::LoadLimit() {
    const uint64_t available = platform::AvailablePhysicalMemory();
    // available * 25 would overflow only far above the cap.
    if (available > UINT64_MAX / 25)
        return 0xFFFFFFFFu;
    const uint64_t limit = available * 25 / 100;
    return limit > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(limit);
}

bool JsonDocument::ParseText(const char* text, Document& into) {
    if (text == 0)
        return false;
    BoundedParse parse(text);
    std::lock_guard<OrvelMutex> hold(jsonLock);
    into.Populate(parse);
    return parse.Parsed();
}

size_t JsonDocument::NestingDepth(const rapidjson::Value& value) {
    // Each entry: a container and the index of the next child to visit.
    std::vector<std::pair<const rapidjson::Value*, rapidjson::SizeType> > path;
    size_t deepest = 0;
    if (value.IsObject() || value.IsArray())
        path.push_back(std::make_pair(&value, 0u));
    while (!path.empty()) {
        if (path.size() > deepest)
            deepest = path.size();
        const rapidjson::Value& container = *path.back().first;
        const rapidjson::SizeType index = path.back().second;
        const rapidjson::SizeType count =
            container.IsObject() ? container.MemberCount() : container.Size();
        if (index >= count) {
            path.pop_back();
            continue;
        }
        ++path.back().second;
        const rapidjson::Value& child =
            container.IsObject() ? (container.MemberBegin() + index)->value : container[index];
        if (child.IsObject() || child.IsArray())
            path.push_back(std::make_pair(&child, 0u));
    }
    return deepest;
}

bool JsonDocument::TakeText(const char* text) {
    Document parsed(rapidjson::kObjectType);
    if (!ParseText(text, parsed) || !parsed.IsObject())
        return false;
    document_.Swap(parsed);
    return true;
}
