#include "cBuffer.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include <openssl/crypto.h>

cBuffer::cBuffer(cBuffer&& other) noexcept
    : data(other.data), length(other.length), capacity(other.capacity) {
    other.data = nullptr;
    other.length = 0;
    other.capacity = 0;
}

cBuffer& cBuffer::operator=(cBuffer&& other) noexcept {
    if (this != &other) {
        release();
        data = other.data;
        length = other.length;
        capacity = other.capacity;
        other.data = nullptr;
        other.length = 0;
        other.capacity = 0;
    }
    return *this;
}

std::string cBuffer::toString() const {
    try {
        return data ? std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(length)) : std::string();
    } catch (...) {
        return std::string();
    }
}

void cBuffer::release() {
    if (data != nullptr) {
        OPENSSL_cleanse(data, static_cast<size_t>(capacity) + 2);
        std::free(data);
    }
    data = nullptr;
    length = 0;
    capacity = 0;
}

bool cBuffer::allocate(int newCapacity) {
    release();
    if (newCapacity < 0 || newCapacity > INT_MAX - 2) return false;
    data = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(newCapacity) + 2, 1));
    if (data == nullptr) return false;
    capacity = newCapacity;
    return true;
}

bool cBuffer::assign(const void* bytes, int count) {
    release();
    if (count < 0 || (count > 0 && bytes == nullptr)) return false;
    if (count == 0) return true;
    if (!allocate(count)) return false;
    std::memcpy(data, bytes, static_cast<size_t>(count));
    length = count;
    return true;
}

bool cBuffer::setLength(int newLength) {
    if (data == nullptr || newLength < 0 || newLength > capacity) return false;
    if (newLength < length) std::memset(data + newLength, 0, static_cast<size_t>(length - newLength));
    length = newLength;
    return true;
}
