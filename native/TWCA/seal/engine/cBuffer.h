// The common shape of the engine's owned byte and text buffers (cBytes,
// cChars, cFile): a heap block and a count of meaningful bytes, followed by at
// least two zero bytes, so the data can always be read as a zero-terminated
// string.  Every filling operation releases the old block first; release wipes
// the block (it may hold a password) before freeing it.  Nothing here throws.
#ifndef ORVANE_ENGINE_CBUFFER_H
#define ORVANE_ENGINE_CBUFFER_H

#include <string>

class cBuffer {
public:
    cBuffer() = default;
    cBuffer(const cBuffer&) = delete;
    cBuffer& operator=(const cBuffer&) = delete;
    cBuffer(cBuffer&& other) noexcept;
    cBuffer& operator=(cBuffer&& other) noexcept;

    // The block, or nullptr when empty.
    unsigned char* getData() const { return data; }
    // The block as text; "" when empty (never nullptr).
    const char* c_str() const { return data ? reinterpret_cast<const char*>(data) : ""; }
    int getLength() const { return length; }
    bool isEmpty() const { return length <= 0; }
    std::string toString() const;

    // Wipes and frees the block; data nullptr, length 0.
    void release();
    // Replaces the content by a copy of `count` bytes (count 0 gives an empty
    // buffer with no block).  False (and empty) when allocation fails or count
    // is negative.
    bool assign(const void* bytes, int count);
    // Replaces the content by a zero-filled block of `capacity` + 2 bytes with
    // length 0; the caller fills it and sets the length with setLength().
    bool allocate(int capacity);
    // Sets the count of meaningful bytes inside an allocated block (bytes after
    // it are zeroed).  False when out of the block.
    bool setLength(int newLength);

protected:
    ~cBuffer() { release(); }

private:
    unsigned char* data = nullptr;
    int length = 0;
    int capacity = 0;   // bytes usable for content; the block holds capacity + 2
};

#endif
