// ASTM E57: one structured scan (data3D) per frame with points, named "frame N": its pose, and
// each point as the scanner measured it (single-precision cartesianX/Y/Z in the frame's own
// coordinates), its colour and its pixel (rowIndex = y, columnIndex = x). Points without a
// frame (a thinned cloud, or frames merged), in one block or many, are one scan named
// "points", in output coordinates, without a pose or a grid. Where points without a colour are
// kept, isColorInvalid marks them. With normals, each point's normal is nor:normalX/Y/Z (the
// surface-normals extension libE57Format defines), single precision, in the scan's
// coordinates. Each scan's binary section goes out as its blocks come; the XML and the file
// header after the last one.

#include <algorithm>
#include <array>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "E57Pages.h"
#include "PointWriter.h"
#include "PoseText.h"

namespace quarn {

namespace {

using e57::PagedStream;
using e57::putLittle;

// A scan's fields, one bytestream each, in this order where the scan has them.
enum class Field {
  x,
  y,
  z,
  red,
  green,
  blue,
  colourInvalid,
  row,
  column,
  normalX,
  normalY,
  normalZ
};
constexpr std::size_t kMaxPacket = 1 << 16;

std::uint32_t floatBits(float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return bits;
}

// The bits an Integer field of 0..maximum takes in the bitpack codec.
int bitsFor(std::uint64_t maximum) {
  int bits = 0;
  while (bits < 64 && (maximum >> bits) != 0) ++bits;
  return bits;
}

// FNV-1a 64 over little-endian values; a GUID is its state and the state one step on.
class Fnv {
 public:
  void add(std::uint64_t value, int bytes = 8) {
    for (int i = 0; i < bytes; ++i) {
      hash_ ^= (value >> (8 * i)) & 0xFF;
      hash_ *= 0x100000001B3u;
    }
  }
  void add(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, 8);
    add(bits);
  }
  std::uint64_t value() const { return hash_; }
  std::string guid() const {
    Fnv next = *this;
    next.add(hash_);
    const std::uint64_t a = hash_, b = next.hash_;
    char text[40];
    std::snprintf(text, sizeof text,
                  "{%08" PRIX64 "-%04" PRIX64 "-%04" PRIX64 "-%04" PRIX64 "-%012" PRIX64 "}",
                  a >> 32, (a >> 16) & 0xFFFF, a & 0xFFFF, b >> 48, b & 0xFFFFFFFFFFFFu);
    return text;
  }

 private:
  std::uint64_t hash_ = 0xCBF29CE484222325u;
};

// The scan's coordinates: the frame's measured points, or the points themselves.
const float* coordinatesOf(const PointBlock& block) {
  return block.frame < 0 ? block.xyz : block.frameXyz;
}

// Its normals, in the same coordinates.
const float* normalsOf(const PointBlock& block) {
  return block.frame < 0 ? block.normals : block.frameNormals;
}

// The scan's points' x minimum, x maximum, y ..., z ...
std::array<float, 6> boundsOf(const PointBlock& block) {
  const float* p = coordinatesOf(block);
  float low[3] = {p[0], p[1], p[2]}, high[3] = {p[0], p[1], p[2]};
  for (std::size_t i = 1; i < block.count; ++i) {
    for (int axis = 0; axis < 3; ++axis) {
      low[axis] = std::min(low[axis], p[3 * i + axis]);
      high[axis] = std::max(high[axis], p[3 * i + axis]);
    }
  }
  return {low[0], high[0], low[1], high[1], low[2], high[2]};
}

// What the XML says of a scan.
struct Scan {
  int frame, sizeX, sizeY;  // frame -1: points without a frame, no pose, no grid
  bool colourFlags;         // isColorInvalid
  bool normals;             // nor:normalX/Y/Z
  std::array<double, 4> rotation;
  std::array<double, 3> translation;
  std::array<float, 6> bounds;     // x minimum, x maximum, y ..., z ...
  std::uint64_t count, sectionAt;  // sectionAt: physical
  std::string guid;
};

// Points without a frame that wait for a whole packet.
struct PendingPoints {
  std::vector<float> xyz, normals;
  std::vector<std::uint8_t> rgb, colourless;
  std::size_t count = 0;

  void add(const PointBlock& block, std::size_t first, std::size_t n) {
    xyz.insert(xyz.end(), block.xyz + 3 * first, block.xyz + 3 * (first + n));
    rgb.insert(rgb.end(), block.rgb + 3 * first, block.rgb + 3 * (first + n));
    if (block.normals != nullptr)
      normals.insert(normals.end(), block.normals + 3 * first, block.normals + 3 * (first + n));
    if (block.colourless != nullptr || !colourless.empty()) {
      colourless.resize(count);  // 0 for points that came without flags
      if (block.colourless != nullptr) {
        colourless.insert(colourless.end(), block.colourless + first, block.colourless + first + n);
      } else {
        colourless.resize(count + n);
      }
    }
    count += n;
  }
  PointBlock block() const {
    PointBlock b;
    b.xyz = xyz.data();
    b.rgb = rgb.data();
    b.count = count;
    if (!colourless.empty()) b.colourless = colourless.data();
    if (!normals.empty()) b.normals = normals.data();
    return b;
  }
  void clear() {
    xyz.clear();
    normals.clear();
    rgb.clear();
    colourless.clear();
    count = 0;
  }
};

// A scan's compressed-vector section as it goes out: data packets of the same number of
// records in every bytestream, a multiple of 64 (but for the last) so that each bytestream's
// share ends on a whole word whatever a reader's word size. No index packets.
struct Section {
  std::vector<std::pair<Field, int>> fields;  // and their bits
  std::size_t packetHeader = 0, perPacket = 0;
  std::uint64_t start = 0;     // logical
  std::uint64_t lengthAt = 0;  // where its length goes, when held (0: written at once)
  Fnv hash;                    // of the scan's frame, grid and pose, then count and bounds
};

class E57Writer final : public PointWriter {
 public:
  E57Writer(std::ostream& out, std::uint64_t count, std::uint64_t pixels, bool normals)
      : PointWriter(out, count, pixels, normals), pages_(out) {
    pages_.hold(48);  // the file header's place
  }

 private:
  std::string header(std::uint64_t, std::uint64_t) const override { return ""; }

  void put(const PointBlock& block) override {
    if (block.count == 0) return;
    const bool framed = block.frame >= 0;
    if (framed && (block.pose == nullptr || block.frameXyz == nullptr || block.pixel == nullptr ||
                   block.sizeX <= 0 || block.sizeY <= 0))
      throw std::logic_error("an E57 scan needs its frame, pose, grid and measured points");
    // Points without a frame, in as many blocks as they come, are one scan, the file's only one.
    if (!framed && open_) {
      Scan& scan = scans_.back();
      const std::array<float, 6> bounds = boundsOf(block);
      for (int k = 0; k < 6; k += 2) {
        scan.bounds[k] = std::min(scan.bounds[k], bounds[k]);
        scan.bounds[k + 1] = std::max(scan.bounds[k + 1], bounds[k + 1]);
      }
      scan.count += block.count;
      append(block, false);
      return;
    }
    if (open_ || (!framed && !scans_.empty()))
      throw std::logic_error("points without a frame are one E57 scan, the file's only one");
    static constexpr double kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const double* pose = framed ? block.pose : kIdentity;
    scans_.push_back({block.frame,
                      framed ? block.sizeX : 0,
                      framed ? block.sizeY : 0,
                      block.colourless != nullptr,
                      normals(),
                      quaternion(pose),
                      {pose[3], pose[7], pose[11]},
                      boundsOf(block),
                      block.count,
                      0,
                      ""});
    begin(scans_.back(), pose, framed);
    append(block, framed);
    if (framed) {
      close();
    } else {
      open_ = true;
    }
  }

  std::size_t packetLength(std::size_t records) const {
    std::size_t length = section_.packetHeader;
    for (const auto& field : section_.fields) length += (records * field.second + 7) / 8;
    return (length + 3) / 4 * 4;
  }

  // The section's header, its length known now when the scan's count is final (a frame's), or
  // held until the scan is closed.
  void begin(Scan& scan, const double* pose, bool countFinal) {
    section_.fields = {{Field::x, 32},  {Field::y, 32},    {Field::z, 32},
                       {Field::red, 8}, {Field::green, 8}, {Field::blue, 8}};
    if (scan.colourFlags) section_.fields.emplace_back(Field::colourInvalid, 1);
    if (scan.frame >= 0) {
      section_.fields.emplace_back(Field::row, bitsFor(scan.sizeY - 1));
      section_.fields.emplace_back(Field::column, bitsFor(scan.sizeX - 1));
    }
    if (scan.normals) {
      for (Field f : {Field::normalX, Field::normalY, Field::normalZ})
        section_.fields.emplace_back(f, 32);
    }
    section_.packetHeader = 6 + 2 * section_.fields.size();
    int recordBits = 0;
    for (const auto& field : section_.fields) recordBits += field.second;
    section_.perPacket =
        (kMaxPacket - section_.packetHeader - 3) * 8 / recordBits / 64 * 64;  // 3: the most padding
    pending_ = {};
    pages_.zerosTo(8);
    section_.start = pages_.logicalLength();
    scan.sectionAt = e57::physicalOffset(section_.start);
    section_.lengthAt = 0;
    section_.hash = Fnv();
    section_.hash.add(static_cast<std::uint64_t>(scan.frame));
    section_.hash.add(static_cast<std::uint64_t>(scan.sizeX));
    section_.hash.add(static_cast<std::uint64_t>(scan.sizeY));
    for (int i = 0; i < 16; ++i) section_.hash.add(pose[i]);
    if (countFinal) {
      const std::uint64_t full = scan.count / section_.perPacket,
                          rest = scan.count % section_.perPacket;
      sectionLength_ =
          32 + full * packetLength(section_.perPacket) + (rest > 0 ? packetLength(rest) : 0);
      pages_.write(sectionHeader(sectionLength_));
    } else {
      section_.lengthAt = pages_.hold(32);
    }
  }

  std::string sectionHeader(std::uint64_t sectionLength) const {
    std::string bytes;
    putLittle(bytes, 1, 1);  // a compressed-vector section
    putLittle(bytes, 0, 7);
    putLittle(bytes, sectionLength, 8);
    putLittle(bytes, e57::physicalOffset(section_.start + 32), 8);
    putLittle(bytes, 0, 8);  // no index
    return bytes;
  }

  // The block's records into packets: whole packets as they fill; the rest as the last packet
  // where `last`, else kept for the next block (points without a frame, as many as a packet).
  void append(const PointBlock& block, bool last) {
    std::size_t first = 0;
    const std::size_t per = section_.perPacket;
    if (pending_.count > 0) {
      first = std::min(block.count, per - pending_.count);
      pending_.add(block, 0, first);
      if (pending_.count == per || last) flushPending();
    }
    for (; block.count - first >= per; first += per) writePacket(block, first, per);
    if (first == block.count) return;
    if (last) {
      writePacket(block, first, block.count - first);
    } else {
      pending_.add(block, first, block.count - first);
    }
  }

  void flushPending() {
    if (pending_.count == 0) return;
    writePacket(pending_.block(), 0, pending_.count);
    pending_.clear();
  }

  void writePacket(const PointBlock& block, std::size_t first, std::size_t records) {
    const std::size_t length = packetLength(records);
    packet_.resize(std::max(packet_.size(), length));  // every byte is written below
    unsigned char* p = packet_.data();
    p[0] = 1;  // a data packet, no flags
    p[1] = 0;
    store16(p + 2, length - 1);
    store16(p + 4, section_.fields.size());
    unsigned char* stream = p + section_.packetHeader;
    for (std::size_t f = 0; f < section_.fields.size(); ++f) {
      const std::size_t size = (records * section_.fields[f].second + 7) / 8;
      store16(p + 6 + 2 * f, size);
      pack(block, section_.fields[f].first, first, records, section_.fields[f].second, stream);
      stream += size;
    }
    std::fill(stream, p + length, 0);  // the padding to a whole number of words
    pages_.write(p, length);
  }

  // The scan's last packet, its length where held; its GUID from what it holds.
  void close() {
    flushPending();
    Scan& scan = scans_.back();
    const std::uint64_t length = pages_.logicalLength() - section_.start;
    if (section_.lengthAt != 0) {
      pages_.fill(section_.lengthAt, sectionHeader(length));
    } else if (length != sectionLength_) {
      throw std::logic_error("an E57 section's length miscounted");
    }
    section_.hash.add(scan.count);
    for (const float bound : scan.bounds) section_.hash.add(static_cast<double>(bound));
    scan.guid = section_.hash.guid();
    fileHash_.add(section_.hash.value());
    open_ = false;
  }

  static void store16(unsigned char* to, std::size_t value) {
    to[0] = static_cast<unsigned char>(value & 0xFF);
    to[1] = static_cast<unsigned char>((value >> 8) & 0xFF);
  }

  // Field f of `records` records from `first` on, least significant bit first.
  static void pack(const PointBlock& block, Field f, std::size_t first, std::size_t records,
                   int bits, unsigned char* to) {
    const int index = static_cast<int>(f);
    if (f <= Field::z || f >= Field::normalX) {
      const float* xyz = f <= Field::z ? coordinatesOf(block) : normalsOf(block);
      const int axis = f <= Field::z ? index : index - static_cast<int>(Field::normalX);
      for (std::size_t i = first; i < first + records; ++i, to += 4) {
        const std::uint32_t value = floatBits(xyz[3 * i + axis]);
        if (kLittleEndian) {
          std::memcpy(to, &value, 4);
        } else {
          for (int b = 0; b < 4; ++b) to[b] = static_cast<unsigned char>(value >> (8 * b));
        }
      }
    } else if (f <= Field::blue) {
      const int c = index - static_cast<int>(Field::red);
      for (std::size_t i = first; i < first + records; ++i) *to++ = block.rgb[3 * i + c];
    } else {
      std::uint64_t held = 0;
      int count = 0;
      // Up to 32 bits held; whole 32-bit words go out little-endian, the rest byte by byte.
      for (std::size_t i = first; i < first + records; ++i) {
        // Within the grid: the reader walks it. A flag is 0 or 1.
        const std::uint64_t value = f == Field::colourInvalid
                                        ? block.colourless != nullptr && block.colourless[i] != 0
                                    : f == Field::row ? block.pixel[2 * i + 1]
                                                      : block.pixel[2 * i];
        held |= value << count;
        count += bits;
        if (count < 32) continue;
        for (int b = 0; b < 4; ++b) to[b] = static_cast<unsigned char>(held >> (8 * b));
        to += 4;
        held >>= 32;
        count -= 32;
      }
      for (; count > 0; count -= 8, held >>= 8) *to++ = static_cast<unsigned char>(held & 0xFF);
    }
  }

  void end() override {
    if (open_) close();
    pages_.zerosTo(8);
    const std::uint64_t xmlAt = pages_.logicalLength();
    fileHash_.add(static_cast<std::uint64_t>(scans_.size()));
    // The creation time is the GPS epoch (0 s): the file's bytes come from the scan alone.
    pages_.write(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<e57Root type=\"Structure\" xmlns=\"http://www.astm.org/COMMIT/E57/2010-e57-v1.0\"" +
        std::string(normals() ? " xmlns:nor=\"http://www.libe57.org/E57_NOR_surface_normals.txt\""
                              : "") +
        ">\n"
        "<formatName type=\"String\"><![CDATA[ASTM E57 3D Imaging Data File]]></formatName>\n"
        "<guid type=\"String\"><![CDATA[" +
        fileHash_.guid() +
        "]]></guid>\n"
        "<versionMajor type=\"Integer\">1</versionMajor>\n"
        "<versionMinor type=\"Integer\">0</versionMinor>\n"
        "<coordinateMetadata type=\"String\"></coordinateMetadata>\n"
        "<creationDateTime type=\"Structure\">"
        "<dateTimeValue type=\"Float\">0</dateTimeValue>"
        "<isAtomicClockReferenced type=\"Integer\">0</isAtomicClockReferenced>"
        "</creationDateTime>\n"
        "<data3D type=\"Vector\" allowHeterogeneousChildren=\"1\">\n");
    for (const Scan& scan : scans_) pages_.write(scanXml(scan));
    pages_.write(
        "</data3D>\n"
        "<images2D type=\"Vector\" allowHeterogeneousChildren=\"1\"></images2D>\n"
        "</e57Root>\n");
    const std::uint64_t xmlLength = pages_.logicalLength() - xmlAt;

    std::string header = "ASTM-E57";
    putLittle(header, 1, 4);
    putLittle(header, 0, 4);
    putLittle(header, pages_.physicalLength(), 8);
    putLittle(header, e57::physicalOffset(xmlAt), 8);
    putLittle(header, xmlLength, 8);
    putLittle(header, e57::kPageSize, 8);
    pages_.finish();
    pages_.fill(0, header);
  }

  static std::string scanXml(const Scan& scan) {
    auto floats = [](std::initializer_list<std::pair<const char*, double>> values) {
      std::string xml;
      for (const auto& [name, v] : values)
        xml += std::string("<") + name + " type=\"Float\">" + number(v) + "</" + name + ">";
      return xml;
    };
    auto integers = [](std::initializer_list<std::pair<const char*, int>> values) {
      std::string xml;
      for (const auto& [name, v] : values)
        xml +=
            std::string("<") + name + " type=\"Integer\">" + std::to_string(v) + "</" + name + ">";
      return xml;
    };
    auto prototype = [](const char* name, int maximum) {
      return std::string("<") + name + " type=\"Integer\" minimum=\"0\" maximum=\"" +
             std::to_string(maximum) + "\"/>";
    };
    const auto& q = scan.rotation;
    const auto& t = scan.translation;
    const auto& b = scan.bounds;
    const bool framed = scan.frame >= 0;
    std::string xml = "<vectorChild type=\"Structure\">\n<guid type=\"String\"><![CDATA[" +
                      scan.guid + "]]></guid>\n<name type=\"String\"><![CDATA[" +
                      (framed ? "frame " + std::to_string(scan.frame) : std::string("points")) +
                      "]]></name>\n";
    if (framed) {
      xml += "<pose type=\"Structure\"><rotation type=\"Structure\">" +
             floats({{"w", q[0]}, {"x", q[1]}, {"y", q[2]}, {"z", q[3]}}) +
             "</rotation><translation type=\"Structure\">" +
             floats({{"x", t[0]}, {"y", t[1]}, {"z", t[2]}}) + "</translation></pose>\n";
    }
    xml += "<cartesianBounds type=\"Structure\">" +
           floats({{"xMinimum", b[0]},
                   {"xMaximum", b[1]},
                   {"yMinimum", b[2]},
                   {"yMaximum", b[3]},
                   {"zMinimum", b[4]},
                   {"zMaximum", b[5]}}) +
           "</cartesianBounds>\n"
           "<colorLimits type=\"Structure\">" +
           integers({{"colorRedMinimum", 0},
                     {"colorRedMaximum", 255},
                     {"colorGreenMinimum", 0},
                     {"colorGreenMaximum", 255},
                     {"colorBlueMinimum", 0},
                     {"colorBlueMaximum", 255}}) +
           "</colorLimits>\n";
    if (framed) {
      xml += "<indexBounds type=\"Structure\">" +
             integers({{"rowMinimum", 0},
                       {"rowMaximum", scan.sizeY - 1},
                       {"columnMinimum", 0},
                       {"columnMaximum", scan.sizeX - 1}}) +
             "</indexBounds>\n";
    }
    xml += "<points type=\"CompressedVector\" fileOffset=\"" + std::to_string(scan.sectionAt) +
           "\" recordCount=\"" + std::to_string(scan.count) +
           "\">\n<prototype type=\"Structure\">"
           "<cartesianX type=\"Float\" precision=\"single\"/>"
           "<cartesianY type=\"Float\" precision=\"single\"/>"
           "<cartesianZ type=\"Float\" precision=\"single\"/>" +
           prototype("colorRed", 255) + prototype("colorGreen", 255) + prototype("colorBlue", 255);
    if (scan.colourFlags) xml += prototype("isColorInvalid", 1);
    if (framed)
      xml += prototype("rowIndex", scan.sizeY - 1) + prototype("columnIndex", scan.sizeX - 1);
    if (scan.normals) {
      xml +=
          "<nor:normalX type=\"Float\" precision=\"single\"/>"
          "<nor:normalY type=\"Float\" precision=\"single\"/>"
          "<nor:normalZ type=\"Float\" precision=\"single\"/>";
    }
    return xml +
           "</prototype>\n"
           "<codecs type=\"Vector\" allowHeterogeneousChildren=\"1\"></codecs>\n"
           "</points>\n</vectorChild>\n";
  }

  PagedStream pages_;
  std::vector<Scan> scans_;
  bool open_ = false;                // the last scan, of points without a frame, takes more
  Section section_;                  // the last scan's
  std::uint64_t sectionLength_ = 0;  // where known from the start
  PendingPoints pending_;
  Fnv fileHash_;
  std::vector<unsigned char> packet_;
};

}  // namespace

std::unique_ptr<PointWriter> makeE57Writer(std::ostream& out, std::uint64_t count,
                                           std::uint64_t pixels, bool normals) {
  return std::make_unique<E57Writer>(out, count, pixels, normals);
}

}  // namespace quarn
