// icongen: turns the character-art icon description into a Windows .ico.
//
//   icongen icon.txt out.ico
//   icongen icon.txt --ppm out.ppm SCALE     (enlarged preview for eyeballing)
//   icongen icon.txt --argb out.h NAME       (C++ array for X11's _NET_WM_ICON)
//
// Kept dependency-free so the icon can be regenerated on any host; the
// generated tolvane.ico is committed so the Windows build never needs this.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

const int side = 32;
const int transparent = -1;

// The standard 16-colour VGA palette, in the order Windows uses for 4-bit bitmaps.
const uint8_t palette[16][3] = {{0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},
                                {0, 0, 128},     {128, 0, 128}, {0, 128, 128}, {192, 192, 192},
                                {128, 128, 128}, {255, 0, 0},   {0, 255, 0},   {255, 255, 0},
                                {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255}};

[[noreturn]] void fail(const std::string& where, const std::string& why) {
  std::cerr << "icongen: " << where << ": " << why << "\n";
  std::exit(1);
}

// Legend lines look like "K = 0" or ". = transparent"; every other non-comment,
// non-blank line is a pixel row.  Pixels are palette indices or `transparent`.
std::vector<int> readIcon(const std::string& path) {
  std::ifstream in(path);
  if (!in) fail(path, "cannot open");
  std::map<char, int> legend;
  std::vector<int> pixels;
  std::string line;
  int rows = 0;
  for (int lineNo = 1; std::getline(in, line); ++lineNo) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string where = path + ":" + std::to_string(lineNo);
    if (line.empty() || line[0] == '#') continue;
    if (line.size() >= 5 && line.compare(1, 3, " = ") == 0) {
      if (rows > 0) fail(where, "legend entry after pixel rows");
      std::string value = line.substr(4);
      value = value.substr(0, value.find_first_of(" \t"));
      int index = transparent;
      if (value != "transparent") {
        char* end = nullptr;
        long v = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end || v < 0 || v > 15)
          fail(where, "legend value must be 0..15 or 'transparent'");
        index = int(v);
      }
      if (!legend.emplace(line[0], index).second)
        fail(where, std::string("character '") + line[0] + "' defined twice");
      continue;
    }
    if (++rows > side) fail(where, "more than " + std::to_string(side) + " pixel rows");
    if (int(line.size()) != side)
      fail(where, "pixel row has " + std::to_string(line.size()) + " characters, expected 32");
    for (int x = 0; x < side; ++x) {
      auto it = legend.find(line[x]);
      if (it == legend.end())
        fail(where + ":" + std::to_string(x + 1),
             std::string("character '") + line[x] + "' is not in the legend");
      pixels.push_back(it->second);
    }
  }
  if (rows != side) fail(path, "found " + std::to_string(rows) + " pixel rows, expected 32");
  return pixels;
}

// All .ico/.bmp header fields are little-endian.
void put16(std::string& out, uint32_t v) { out += {char(v & 0xff), char((v >> 8) & 0xff)}; }
void put32(std::string& out, uint32_t v) {
  put16(out, v & 0xffff);
  put16(out, v >> 16);
}

std::string makeIco(const std::vector<int>& pixels) {
  const int xorStride = (side * 4 + 31) / 32 * 4;
  const int andStride = (side + 31) / 32 * 4;
  const uint32_t imageBytes = 40 + 16 * 4 + (xorStride + andStride) * side;

  std::string ico;
  // A single 32x32 16-colour image: what every Windows version can show as-is.
  put16(ico, 0);
  put16(ico, 1);
  put16(ico, 1);
  ico += char(side);
  ico += char(side);
  ico += char(16);
  ico += char(0);
  put16(ico, 1);
  put16(ico, 4);
  put32(ico, imageBytes);
  put32(ico, 6 + 16);

  put32(ico, 40);
  put32(ico, side);
  put32(ico, side * 2);  // height covers XOR + AND
  put16(ico, 1);
  put16(ico, 4);
  put32(ico, 0);
  put32(ico, (xorStride + andStride) * side);
  put32(ico, 0);
  put32(ico, 0);
  put32(ico, 0);
  put32(ico, 0);
  for (const auto& c : palette) ico += {char(c[2]), char(c[1]), char(c[0]), '\0'};  // B, G, R

  // Bitmaps are stored bottom-up.  Transparent pixels get index 0 (black) so
  // that XOR-ing them onto the screen leaves the background untouched.
  std::string xorBits, andBits;
  for (int y = side - 1; y >= 0; --y) {
    std::string xorRow(xorStride, '\0'), andRow(andStride, '\0');
    for (int x = 0; x < side; ++x) {
      int p = pixels[y * side + x];
      if (p == transparent)
        andRow[x / 8] |= char(0x80 >> (x % 8));
      else
        xorRow[x / 2] |= char(x % 2 ? p : p << 4);
    }
    xorBits += xorRow;
    andBits += andRow;
  }
  return ico + xorBits + andBits;
}

std::string makePpm(const std::vector<int>& pixels, int scale) {
  // Transparency shows as a pale pink checkerboard: no palette colour looks like it.
  const uint8_t checker[2][3] = {{255, 200, 230}, {230, 170, 205}};
  const std::string size = std::to_string(side * scale);
  std::string ppm = "P6\n" + size + " " + size + "\n255\n";
  for (int y = 0; y < side * scale; ++y)
    for (int x = 0; x < side * scale; ++x) {
      int p = pixels[(y / scale) * side + x / scale];
      const uint8_t* rgb = p != transparent ? palette[p] : checker[(x / scale + y / scale) % 2];
      ppm.append(reinterpret_cast<const char*>(rgb), 3);
    }
  return ppm;
}

// _NET_WM_ICON: width, height, then one 0xAARRGGBB per pixel, top row first. Kept in 32 bits
// here, half the size: the window widens them to the unsigned longs Xlib takes.
std::string makeArgb(const std::vector<int>& pixels, const std::string& name) {
  std::string out =
      "// Generated by icongen from icon.txt: edit that file, not this one.\n#pragma once\n\n"
      "#include <cstdint>\n\n";
  out += "static const uint32_t " + name + "[] = {\n    " + std::to_string(side) + ", " +
         std::to_string(side) + ",";
  char item[16];
  for (int i = 0; i < side * side; ++i) {
    int p = pixels[i];
    uint32_t argb = 0;
    if (p != transparent)
      argb = 0xff000000u | uint32_t(palette[p][0]) << 16 | uint32_t(palette[p][1]) << 8 |
             palette[p][2];
    std::snprintf(item, sizeof item, "0x%08xu,", unsigned(argb));
    out += i % 8 == 0 ? "\n    " : " ";
    out += item;
  }
  return out + "\n};\n";
}

void writeFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  if (!out.write(data.data(), std::streamsize(data.size())) || !out.flush())
    fail(path, "cannot write");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3) {
    writeFile(argv[2], makeIco(readIcon(argv[1])));
  } else if (argc == 5 && std::string(argv[2]) == "--ppm") {
    int scale = std::atoi(argv[4]);
    if (scale < 1 || scale > 64) fail(argv[4], "scale must be 1..64");
    writeFile(argv[3], makePpm(readIcon(argv[1]), scale));
  } else if (argc == 5 && std::string(argv[2]) == "--argb") {
    writeFile(argv[3], makeArgb(readIcon(argv[1]), argv[4]));
  } else {
    std::cerr << "usage: icongen icon.txt out.ico\n"
                 "       icongen icon.txt --ppm out.ppm SCALE\n"
                 "       icongen icon.txt --argb out.h NAME\n";
    return 2;
  }
  return 0;
}
