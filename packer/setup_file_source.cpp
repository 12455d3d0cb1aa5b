#include "packer/setup_file_source.h"

#include <errno.h>
#include <string.h>
#include <sys/types.h>

#include "package/pe_layout.h"
#include "packer/packer_error.h"
#include "packer/utf8_paths.h"

SetupFileSource::SetupFileSource(const std::string& path) {
  file_ = OpenUtf8File(path, "rb");
  if (!file_) throw PackerError(path, "", std::string("cannot open: ") + strerror(errno));
  if (fseeko(file_, 0, SEEK_END) != 0) {
    fclose(file_);
    throw PackerError(path, "", "cannot read");
  }
  off_t size = ftello(file_);
  if (size < 0 || size > 0xFFFFFFFFll) {
    fclose(file_);
    throw PackerError(path, "", "too large to be a setup file");
  }
  source_.FileSize = static_cast<uint32_t>(size);
  source_.Read = &SetupFileSource::Read;
  source_.Context = this;
  uint8_t headers[HEADER_PAGE_SIZE];
  uint32_t got = Read(this, 0, headers, sizeof headers);
  isPe_ = ReadCertificateOffset(headers, got, &source_.CertificateOffset);
  if (!isPe_) source_.CertificateOffset = 0;
}

SetupFileSource::~SetupFileSource() { fclose(file_); }

uint32_t SetupFileSource::Read(void* context, uint32_t offset, void* buffer, uint32_t size) {
  SetupFileSource* self = static_cast<SetupFileSource*>(context);
  std::lock_guard<std::mutex> hold(self->reading_);
  if (fseeko(self->file_, offset, SEEK_SET) != 0) return 0;
  return static_cast<uint32_t>(fread(buffer, 1, size, self->file_));
}

namespace {

// A block larger than the packer writes is refused before anything is
// allocated for it.
bool ExceedsPackerLimits(const PackageSource* source, LoadedPackage* out) {
  TrailerLocation located;
  if (LocateTrailer(source, &located) != LOAD_OK || located.Trailer.UnpackedSize <= MAX_STREAM_BLOCK_SIZE) return false;
  // A chunked package's block is never held whole by the stub; its table
  // lies before the prefix record.
  PrefixRecord record;
  ChunkTableRecord table;
  const uint32_t packedAt = PackedOffset(&located), tail = sizeof record + sizeof table;
  if (ReadPrefixRecord(source, &located, &record) == PREFIX_PRESENT && located.Trailer.ExtraSize >= tail &&
      source->Read(source->Context, packedAt - tail, &table, sizeof table) == sizeof table &&
      table.Magic == CHUNK_TABLE_MAGIC)
    return false;
  memset(out, 0, sizeof *out);
  return true;
}

}  // namespace

LoadResult StartStagedLoadWithinPackerLimits(const PackageSource* source, uint32_t osClass, uint32_t archClass,
                                             LoadedPackage* out, StagedLoad* load) {
  if (ExceedsPackerLimits(source, out)) return LOAD_BAD_TRAILER;
  return StartStagedLoad(source, osClass, archClass, out, load);
}

LoadResult LoadPackageWithinPackerLimits(const PackageSource* source, uint32_t osClass, uint32_t archClass,
                                         LoadedPackage* out) {
  if (ExceedsPackerLimits(source, out)) return LOAD_BAD_TRAILER;
  return LoadWholePackage(source, osClass, archClass, out);
}
