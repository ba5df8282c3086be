#pragma once
// Deterministic test pictures and small helpers for the JPEG tests and benchmark.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace jpegtest {

struct Image {
  int width = 0;
  int height = 0;
  int channels = 3;
  std::vector<std::uint8_t> pixels;  // rows top first, red green blue (or grey)
};

// Photo-like content: smooth shading, a few hard edges, fine texture and mild noise.
inline Image Photo(int w, int h) {
  Image img{w, h, 3, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * h * 3)};
  std::uint32_t seed = 0x2545F491u;
  auto clamp = [](double v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5); };
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const double noise = static_cast<double>(seed >> 24) / 32.0 - 4.0;
      const double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
      double r = 60 + 120 * fx + 40 * std::sin(fy * 9.0) + noise;
      double g = 90 + 80 * fy + 30 * std::cos((fx + fy) * 7.0) + noise;
      double b = 150 - 70 * fx * fy + 25 * std::sin(fx * 23.0) * std::cos(fy * 17.0) + noise;
      const double dx = fx - 0.6, dy = fy - 0.45;
      if (dx * dx + dy * dy < 0.04) {  // a bright disc with a hard edge
        r = 230 + noise;
        g = 200 - 60 * fy + noise;
        b = 40 + noise;
      }
      if (x % 37 < 3 && fy > 0.7) r = g = b = 20;  // dark bars
      auto* p = &img.pixels[(static_cast<std::size_t>(y) * w + x) * 3];
      p[0] = clamp(r);
      p[1] = clamp(g);
      p[2] = clamp(b);
    }
  }
  return img;
}

inline Image Grey(const Image& rgb) {
  Image g{rgb.width, rgb.height, 1, std::vector<std::uint8_t>(static_cast<std::size_t>(rgb.width) * rgb.height)};
  for (std::size_t i = 0; i < g.pixels.size(); ++i) {
    const auto* p = &rgb.pixels[i * 3];
    g.pixels[i] = static_cast<std::uint8_t>((299 * p[0] + 587 * p[1] + 114 * p[2] + 500) / 1000);
  }
  return g;
}

// Binary PPM (P6) or PGM (P5).
inline std::vector<std::uint8_t> ToPnm(const Image& img) {
  std::string head = (img.channels == 3 ? "P6\n" : "P5\n") + std::to_string(img.width) + " " +
                     std::to_string(img.height) + "\n255\n";
  std::vector<std::uint8_t> out(head.begin(), head.end());
  out.insert(out.end(), img.pixels.begin(), img.pixels.end());
  return out;
}

inline double MeanAbsoluteError(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 1e9;
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
  return sum / static_cast<double>(a.size());
}

// Offset of the first (or last) marker FF code, or npos.
inline std::size_t FindMarker(const std::vector<std::uint8_t>& d, std::uint8_t code) {
  for (std::size_t i = 0; i + 1 < d.size(); ++i)
    if (d[i] == 0xFF && d[i + 1] == code) return i;
  return std::string::npos;
}
inline std::size_t FindLastMarker(const std::vector<std::uint8_t>& d, std::uint8_t code) {
  for (std::size_t i = d.size(); i-- > 1;)
    if (d[i - 1] == 0xFF && d[i] == code) return i - 1;
  return std::string::npos;
}

}  // namespace jpegtest
