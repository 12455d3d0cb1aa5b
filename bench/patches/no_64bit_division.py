# Tried for size (patched_stub.py --patch): the bar position without a
# 64-bit division, so that libgcc's __udivdi3 (and the unwind table that
# comes with it) is not linked. Exact while the total is below 2^19 bytes;
# above, both sides are scaled by the same shift and the position may be
# one step (of 10000) lower than the 64-bit quotient.
path = src / "install" / "progress.cpp"
text = path.read_text()
start = text.index("uint32_t FilePhasePosition(uint64_t written, uint64_t total) {")
end = text.index("uint32_t AddWritten(")
new = """uint32_t FilePhasePosition(uint64_t written, uint64_t total) {
  if (total == 0 || written >= total) return PROGRESS_FILES_END;
  // 32-bit arithmetic: written * 5000 fits once total is below 2^19.
  while (total >= (1u << 19)) {
    total >>= 1;
    written >>= 1;
  }
  return static_cast<uint32_t>(written) * PROGRESS_FILES_END / static_cast<uint32_t>(total);
}

"""
path.write_text(text[:start] + new + text[end:])
