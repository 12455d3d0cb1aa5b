#include "packer/content_reader.h"

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "packer/packer_error.h"
#include "packer/utf8_paths.h"

ContentReader::ContentReader(const PackageFileEntry& file) : file_(file), left_(DataSizeOf(file)) {
  if (file.Source.empty()) return;
  stream_ = OpenUtf8File(file.Source, "rb");
  if (!stream_) throw PackerError(file.Source, "", std::string("cannot open: ") + strerror(errno));
}

ContentReader::~ContentReader() {
  if (stream_) fclose(stream_);
}

size_t ContentReader::Read(uint8_t* buffer, size_t size) {
  size_t n = static_cast<size_t>(std::min<uint64_t>(size, left_));
  if (!stream_) {
    if (n) memcpy(buffer, file_.Data.data() + (file_.Data.size() - left_), n);
  } else if (n == 0) {
    if (fgetc(stream_) != EOF) Changed();
  } else if (fread(buffer, 1, n, stream_) != n) {
    if (ferror(stream_)) throw PackerError(file_.Source, "", "cannot read");
    Changed();
  }
  left_ -= n;
  return n;
}

void ContentReader::Changed() { throw PackerError(file_.Source, "", "the file changed size while it was packed"); }
