#include "stored_text.h"

#include <algorithm>
#include <cstddef>

namespace ulvex {

namespace {

// The UTF-16 units that `count` bytes of well-formed modified UTF-8 encode, written to `out`
// unless it is null; -1 when the bytes are not well-formed. Each unit is encoded on its own in
// one to three bytes, by the shortest form, but for U+0000, which is C0 80.
int decodeModifiedUtf8(const BYTE* bytes, int count, wchar_t* out) {
    int units = 0;
    for (int index = 0; index < count; ++units) {
        unsigned unit = bytes[index];
        int following = unit >= 0xE0 ? 2 : unit >= 0x80 ? 1 : 0;
        if (unit == 0 || (unit >= 0x80 && unit < 0xC0) || unit >= 0xF0 ||
            count - index - 1 < following) {
            return -1;
        }
        unit &= following == 2 ? 0x0F : following == 1 ? 0x1F : 0x7F;
        for (int next = 1; next <= following; ++next) {
            unsigned byte = bytes[index + next];
            if ((byte & 0xC0) != 0x80) {
                return -1;
            }
            unit = (unit << 6) | (byte & 0x3F);
        }
        if ((following == 1 && unit != 0 && unit < 0x80) || (following == 2 && unit < 0x800)) {
            return -1;
        }
        if (out != nullptr) {
            out[units] = static_cast<wchar_t>(unit);
        }
        index += 1 + following;
    }
    return units;
}

}  // namespace

StoredName::StoredName(const char* bytes) {
    if (MultiByteToWideChar(CP_ACP, 0, bytes, -1, stack_, stackUnits) != 0) {
        text_ = stack_;
        return;
    }
    int units = MultiByteToWideChar(CP_ACP, 0, bytes, -1, nullptr, 0);
    if (units != 0 && heap_.allocate(static_cast<std::size_t>(units) * sizeof(wchar_t)) &&
        MultiByteToWideChar(CP_ACP, 0, bytes, -1, heap_.as<wchar_t>(), units) != 0) {
        text_ = heap_.as<wchar_t>();
    }
}

int fromStoredForm(wchar_t* text, int length) {
    if (std::all_of(text, text + length, [](wchar_t unit) { return unit < 0x80; })) {
        return length;
    }
    // Two bytes a unit hold every character of a double-byte code page.
    int room = 2 * length;
    HeapBuffer bytes;
    if (!bytes.allocate(static_cast<std::size_t>(room))) {
        return -1;
    }
    BOOL lossy = FALSE;
    int count = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, length, bytes.text(), room,
                                    nullptr, &lossy);
    const BYTE* begin = bytes.get();
    if (count == 0 || lossy ||
        std::all_of(begin, begin + count, [](BYTE byte) { return byte < 0x80; })) {
        return length;
    }
    int decoded = decodeModifiedUtf8(bytes.get(), count, nullptr);
    if (decoded < 0 || decoded > length) {
        return length;
    }
    decodeModifiedUtf8(bytes.get(), count, text);
    text[decoded] = L'\0';
    return decoded;
}

}  // namespace ulvex
