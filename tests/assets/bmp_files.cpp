// bmp_files.cpp - BMP files for the texture tests (see bmp_files.h).
#include "bmp_files.h"

#include <fstream>

namespace bmp_files {

void putU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

Bytes makeBmp(int width, int height, const std::vector<Bytes>& rows, const Options& options) {
    const std::size_t headers = 14 + options.infoHeaderBytes;
    Bytes bytes(headers + options.gapBeforePixels, 0);
    bytes[0] = 'B';
    bytes[1] = 'M';
    putU32(bytes, 10, static_cast<std::uint32_t>(headers + options.gapBeforePixels));
    putU32(bytes, 14, options.infoHeaderBytes);
    putU32(bytes, 18, static_cast<std::uint32_t>(width));
    putU32(bytes, 22, static_cast<std::uint32_t>(height));
    bytes[26] = 1;
    bytes[28] = static_cast<unsigned char>(options.bitsPerPixel);
    bytes[29] = static_cast<unsigned char>(options.bitsPerPixel >> 8);
    putU32(bytes, 30, options.compression);
    for (std::size_t i = headers; i < bytes.size(); ++i) bytes[i] = 0x77;
    for (const Bytes& row : rows) {
        bytes.insert(bytes.end(), row.begin(), row.end());
        while ((bytes.size() - headers - options.gapBeforePixels) % 4 != 0) bytes.push_back(options.padding);
    }
    putU32(bytes, 2, static_cast<std::uint32_t>(bytes.size()));
    return bytes;
}

Bytes blueGreenRedWhite() {
    Bytes row;
    for (const Bytes* pixel : {&kBlue, &kGreen, &kRed, &kWhite}) row.insert(row.end(), pixel->begin(), pixel->end());
    return makeBmp(4, 1, {row});
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace bmp_files
