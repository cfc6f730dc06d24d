// One JSON document and the archive file format it is saved in.
//
// Archive file, little-endian:
//
//   offset  size  content
//   0       16    header bytes B3 EC 09 9A 22 92 48 FA 83 D0 06 84 0B C9 91 02
//   16      4     L: length of the JSON text in bytes, uint32
//   20      L     the JSON text, UTF-8, compact, no terminating zero
//
// Writers always put the header bytes above; readers skip them unexamined.
//
// Every parse and every write of an archive image to a stream happens under
// the process-wide jsonLock. Arrays and objects nested deeper than kMaxNesting
// are refused by the parser and by the writer, so neither recurses without bound.
#ifndef FWSETUP_PROPERTIES_JSON_DOCUMENT_H
#define FWSETUP_PROPERTIES_JSON_DOCUMENT_H

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>

#include <cstdint>

#include "package/stream.h"
#include "platform/types.h"
#include "runtime/orvel_mutex.h"

// Held around every JSON parse and every write of an archive image, for all documents.
extern OrvelMutex jsonLock;

class JsonDocument {
  public:
    // UTF-8, the memory-pool allocator (65536-byte chunks), a parse stack of 1024 bytes.
    typedef rapidjson::Document Document;
    typedef rapidjson::Value::MemberIterator MemberIterator;

    static const uint32_t kHeaderSize = 16;
    static const uint32_t kLengthSize = 4;
    // Deepest nesting of arrays and objects that is parsed or written.
    static const unsigned kMaxNesting = 64;

    // An empty object.
    JsonDocument();
    virtual ~JsonDocument();

    // FindMember(name), stored in position; true when the member exists.
    virtual bool HasMember(const char* name, MemberIterator& position);
    // The root member called name, or the root's end position. A root that is
    // not an object has no members: the result is then a null iterator.
    virtual MemberIterator FindMember(const char* name);
    // When the root member exists, its value becomes a copy of value (up to its
    // first zero byte) and the result is true; otherwise false.
    virtual bool SetMemberString(const char* name, const char* value);
    // Writes the archive image (header bytes, L, text) with one Write under
    // jsonLock; true when the stream took all 20 + L bytes.
    virtual bool SaveToStream(Stream& stream, const uint8_t* headerBytes);
    // SaveToStream with HeaderBytes().
    virtual bool SaveToStream(Stream& stream);
    // Reads an archive image. True when L is 1..LoadLimit(), the L bytes arrived
    // and parsed to an object, which then replaces the document; on any failure
    // the document keeps what it held.
    virtual bool LoadFromStream(Stream& stream);
    // Parses a whole archive image of size bytes held at data. The byte after the
    // text (data[20 + L]) is set to 0, so 21 + L bytes must fit in size. The
    // document copies what it keeps and never refers to data afterwards. Same
    // results as LoadFromStream.
    virtual bool LoadFromBuffer(uint8_t* data, uint32_t size);
    // Appends the compact JSON text of the document to text; the writer's success
    // (false for a document nested deeper than kMaxNesting).
    virtual bool WriteText(rapidjson::StringBuffer& text);
    // A fresh allocator, an empty object as root, a clean parse state.
    virtual void Reset();
    // The 16 header bytes that writers put in front.
    virtual const uint8_t* HeaderBytes() const;
    // 16.
    virtual uint32_t HeaderSize() const;
    // n bytes from stream into buffer, followed by one zero byte (n + 1 in all).
    // When a read returns 0 or less before n bytes arrived, buffer is emptied and
    // the result is false.
    virtual bool ReadExact(ByteVector& buffer, Stream& stream, uint32_t n);

    // The held document.
    Document& GetDocument() { return document_; }
    const Document& GetDocument() const { return document_; }

    // The longest JSON text a load accepts: a quarter of the available physical
    // memory, at most 0xFFFFFFFF.
    static uint32_t LoadLimit();
    // Parses a zero-terminated JSON text with the default flags under jsonLock.
    // On success into holds the parsed root (of any type) and its own values; on
    // failure (not JSON, more than one root, nested deeper than kMaxNesting) into
    // is left as it was.
    static bool ParseText(const char* text, Document& into);
    // How deep arrays and objects nest in value (0 for a scalar), counted
    // without recursion.
    static size_t NestingDepth(const rapidjson::Value& value);

  protected:
    Document document_;

  private:
    JsonDocument(const JsonDocument&);
    JsonDocument& operator=(const JsonDocument&);

    // Parses a zero-terminated text and lets it replace the document when its
    // root is an object.
    bool TakeText(const char* text);
};

#endif
