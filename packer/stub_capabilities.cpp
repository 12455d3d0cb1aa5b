#include "packer/stub_capabilities.h"

#include "package/pe_layout.h"
#include "package/sha256.h"
#include "resources/stub_capabilities.h"

namespace {

// Reads the PE image's resource tree without trusting any offset in it.
class ImageReader {
 public:
  explicit ImageReader(const std::vector<uint8_t>& image) : image_(image) {}

  bool U16(uint64_t at, uint32_t* value) const {
    if (at + 2 > image_.size()) return false;
    *value = image_[at] | image_[at + 1] << 8;
    return true;
  }
  bool U32(uint64_t at, uint32_t* value) const {
    uint32_t low, high;
    if (!U16(at, &low) || !U16(at + 2, &high)) return false;
    *value = low | high << 16;
    return true;
  }
  // File offset of a relative virtual address, through the section table.
  bool FileOffset(uint32_t rva, uint32_t size, uint64_t* at) const {
    uint32_t pe, sections, optionalSize;
    if (!U32(PE_OFFSET_FIELD, &pe) || !U16(uint64_t{pe} + COFF_SECTION_COUNT_AT, &sections) ||
        !U16(uint64_t{pe} + COFF_OPTIONAL_HEADER_SIZE_AT, &optionalSize))
      return false;
    uint64_t table = uint64_t{pe} + OPTIONAL_HEADER_AT + optionalSize;
    for (uint32_t i = 0; i < sections; ++i) {
      uint32_t virtualSize, address, rawSize, rawAt;
      uint64_t s = table + i * SECTION_HEADER_SIZE;
      if (!U32(s + 8, &virtualSize) || !U32(s + 12, &address) || !U32(s + 16, &rawSize) || !U32(s + 20, &rawAt))
        return false;
      uint32_t extent = virtualSize > rawSize ? rawSize : virtualSize;
      if (rva >= address && uint64_t{rva} + size <= uint64_t{address} + extent) {
        *at = uint64_t{rawAt} + (rva - address);
        return *at + size <= image_.size();
      }
    }
    return false;
  }
  // The OffsetToData field of the entry with the integer id (the first
  // entry for ANY_ID) in the resource directory at file offset dir.
  bool Find(uint64_t dir, uint32_t id, uint32_t* offsetToData) const {
    uint32_t named, ids;
    if (!U16(dir + 12, &named) || !U16(dir + 14, &ids)) return false;
    for (uint32_t i = 0; i < named + ids; ++i) {
      uint32_t name, data;
      if (!U32(dir + 16 + i * 8, &name) || !U32(dir + 20 + i * 8, &data)) return false;
      if (id == ANY_ID || name == id) {
        *offsetToData = data;
        return true;
      }
    }
    return false;
  }
  static constexpr uint32_t ANY_ID = 0xFFFFFFFFu;

 private:
  const std::vector<uint8_t>& image_;
};

}  // namespace

namespace {

// File offset and size of the data of the stub's RCDATA resource id (its
// first language); false when the image has none or its resource tree
// cannot be read.
bool FindRcData(const std::vector<uint8_t>& image, uint32_t id, uint64_t* at, uint32_t* dataSize) {
  ImageReader r(image);
  uint32_t pe, magic;
  if (!r.U32(PE_OFFSET_FIELD, &pe) || !r.U16(uint64_t{pe} + OPTIONAL_HEADER_AT, &magic)) return false;
  uint64_t directory = uint64_t{pe} + OPTIONAL_HEADER_AT + DataDirectoryAt(magic, RESOURCE_TABLE_INDEX);
  uint32_t rva, size;
  uint64_t root;
  if (!r.U32(directory, &rva) || !r.U32(directory + 4, &size) || size < 16 || !r.FileOffset(rva, size, &root))
    return false;
  // Type, name, then the first language; each level but the last is a
  // subdirectory (the high bit set), the last a data entry.
  const uint32_t path[3] = {10 /* RT_RCDATA */, id, ImageReader::ANY_ID};
  uint64_t dir = root;
  uint32_t offset = 0;
  for (int level = 0; level < 3; ++level) {
    if (!r.Find(dir, path[level], &offset)) return false;
    bool subdirectory = (offset & 0x80000000u) != 0;
    if (subdirectory != (level < 2) || (offset & 0x7FFFFFFFu) + 16u > size) return false;
    dir = root + (offset & 0x7FFFFFFFu);
  }
  uint32_t dataRva;
  return r.U32(dir, &dataRva) && r.U32(dir + 4, dataSize) && r.FileOffset(dataRva, *dataSize, at);
}

}  // namespace

uint32_t ReadStubCapabilities(const std::vector<uint8_t>& image) {
  uint64_t at;
  uint32_t size, value;
  if (!FindRcData(image, STUB_CAPABILITIES_ID, &at, &size) || size < 4 || !ImageReader(image).U32(at, &value))
    return 0;
  return value;
}

bool FindPackageHashSlot(const std::vector<uint8_t>& image, uint64_t* at) {
  uint32_t size;
  return FindRcData(image, STUB_PACKAGE_HASH_ID, at, &size) && size == SHA256_SIZE;
}
