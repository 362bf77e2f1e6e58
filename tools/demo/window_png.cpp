#include "tools/demo/window_png.h"

#include <zlib.h>

#include <cstdint>

#include "common/unique_handle.h"

namespace {

void PngChunk(std::string& png, const char* type, const std::string& data) {
    auto be32 = [&png](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            png += static_cast<char>((v >> shift) & 0xFF);
        }
    };
    be32(static_cast<uint32_t>(data.size()));
    const std::string typed = std::string(type, 4) + data;
    png += typed;
    be32(static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(typed.data()), static_cast<uInt>(typed.size()))));
}

}  // namespace

bool WaitUntilPainted(HWND window, DWORD timeoutMs) {
    auto pending = [window] {
        bool any = GetUpdateRect(window, nullptr, FALSE);
        for (HWND child = GetWindow(window, GW_CHILD); child != nullptr && !any;
             child = GetWindow(child, GW_HWNDNEXT)) {
            any = GetUpdateRect(child, nullptr, FALSE);
        }
        return any;
    };
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (pending() && GetTickCount64() < deadline) {
        Sleep(10);
    }
    // Answered from the window's message wait, which Wine enters only after
    // copying what was painted to the display.
    DWORD_PTR result = 0;
    return !pending() &&
           SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, timeoutMs, &result) != 0;
}

bool SaveWindowPng(HWND window, const std::wstring& path) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) {
        return false;
    }
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    std::string raw;
    const auto* pixels = static_cast<const unsigned char*>(bits);
    for (int y = 0; y < height; ++y) {
        raw += '\0';
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = pixels + (static_cast<size_t>(y) * width + x) * 4;
            raw += {static_cast<char>(p[2]), static_cast<char>(p[1]), static_cast<char>(p[0])};
        }
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    std::string compressed(compressBound(static_cast<uLong>(raw.size())), '\0');
    uLongf compressedSize = static_cast<uLongf>(compressed.size());
    compress(reinterpret_cast<Bytef*>(compressed.data()), &compressedSize,
             reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()));
    compressed.resize(compressedSize);
    std::string header;
    for (int v : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            header += static_cast<char>((v >> shift) & 0xFF);
        }
    }
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB
    std::string png = "\x89PNG\r\n\x1a\n";
    PngChunk(png, "IHDR", header);
    PngChunk(png, "IDAT", compressed);
    PngChunk(png, "IEND", "");
    UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.get(), png.data(), static_cast<DWORD>(png.size()), &written, nullptr) &&
           written == png.size();
}
