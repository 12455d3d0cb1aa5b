// Typed access to a parsed TOML manifest. Every accessor checks the value's
// type and range and, on a problem, throws PackerError with the manifest's
// name, the value's line and the key's dotted path (e.g. "file[2].arch").
#pragma once
#include <stdint.h>

#include <toml++/toml.h>

#include <initializer_list>
#include <optional>
#include <string>

#include "packer/mask_names.h"

class ManifestReader {
 public:
  explicit ManifestReader(std::string file) : file_(std::move(file)) {}

  // at: where the problem is (its line is reported), or null for no line.
  [[noreturn]] void Fail(const toml::node* at, const std::string& key, const std::string& problem) const;
  static std::string Join(const std::string& prefix, const std::string& name);

  // Refuses any key of table that is not in allowed.
  void OnlyKeys(const toml::table& table, const std::string& prefix,
                std::initializer_list<const char*> allowed) const;

  // Each returns nothing (or the stated default) when the key is absent.
  const toml::table* Table(const toml::table& parent, const std::string& prefix, const char* name) const;
  const toml::array* TableArray(const toml::table& parent, const char* name) const;
  // UTF-16, refused when it holds NUL (it would cut the package string).
  std::optional<std::u16string> String(const toml::table& table, const std::string& prefix, const char* name) const;
  // Present and not empty.
  std::u16string RequiredString(const toml::table& table, const std::string& prefix, const char* name) const;
  // UTF-8 as written (names and paths, checked by their users).
  std::optional<std::string> NarrowString(const toml::table& table, const std::string& prefix,
                                          const char* name) const;
  std::optional<uint64_t> Integer(const toml::table& table, const std::string& prefix, const char* name,
                                  uint64_t max) const;
  bool Boolean(const toml::table& table, const std::string& prefix, const char* name) const;
  // A TOML date-time (UTC when it has no offset) or an integer FILETIME.
  uint64_t FileTime(const toml::node& node, const std::string& key) const;

  // A list of names or an integer of at most max; 0 (all) when absent. A
  // non-zero integer needs at least one bit of the named ones.
  template <size_t N>
  uint32_t Mask(const toml::table& table, const std::string& prefix, const char* name,
                const NamedBit (&names)[N], uint32_t max) const {
    const toml::node* node = table.get(name);
    if (!node) return 0;
    std::string key = Join(prefix, name);
    uint32_t defined = 0;
    for (const NamedBit& n : names) defined |= n.Bit;
    if (node->is_integer()) {
      uint32_t mask = static_cast<uint32_t>(*Integer(table, prefix, name, max));
      // Such a mask admits no system the stub can classify.
      if (mask != 0 && (mask & defined) == 0)
        Fail(node, key, "has none of the defined bits (" + NameList(names) + "): no system would install this");
      return mask;
    }
    if (!node->is_array()) Fail(node, key, "must be a list of names (" + NameList(names) + ") or an integer");
    uint32_t mask = 0;
    for (const toml::node& item : *node->as_array()) {
      const NamedBit* found = nullptr;
      for (const NamedBit& n : names) {
        if (item.is_string() && item.as_string()->get() == n.Name) found = &n;
      }
      if (!found) Fail(&item, key, "unknown name; known names: " + NameList(names));
      mask |= found->Bit;
    }
    return mask;
  }

 private:
  std::string file_;
};
