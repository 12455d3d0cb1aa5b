#include "packer/manifest_reader.h"

#include "packer/content_rules.h"
#include "packer/packer_error.h"
#include "packer/product_files.h"
#include "packer/utf16.h"

namespace {

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

void ManifestReader::Fail(const toml::node* at, const std::string& key, const std::string& problem) const {
  int line = at ? static_cast<int>(at->source().begin.line) : 0;
  throw PackerError(file_, line, key, problem);
}

std::string ManifestReader::Join(const std::string& prefix, const std::string& name) {
  return prefix.empty() ? name : prefix + "." + name;
}

void ManifestReader::OnlyKeys(const toml::table& table, const std::string& prefix,
                              std::initializer_list<const char*> allowed) const {
  for (auto&& [key, value] : table) {
    bool known = false;
    for (const char* name : allowed) known = known || key.str() == name;
    if (known) continue;
    std::string all;
    for (const char* name : allowed) all += std::string(all.empty() ? "" : ", ") + name;
    Fail(&value, Join(prefix, std::string(key.str())), "unknown key (known: " + all + ")");
  }
}

const toml::table* ManifestReader::Table(const toml::table& parent, const std::string& prefix,
                                         const char* name) const {
  const toml::node* node = parent.get(name);
  if (!node) return nullptr;
  if (!node->is_table()) Fail(node, Join(prefix, name), "must be a table");
  return node->as_table();
}

const toml::array* ManifestReader::TableArray(const toml::table& parent, const char* name) const {
  const toml::node* node = parent.get(name);
  if (!node) return nullptr;
  if (!node->is_array_of_tables())
    Fail(node, name, "must be an array of tables ([[" + std::string(name) + "]])");
  return node->as_array();
}

std::optional<std::u16string> ManifestReader::String(const toml::table& table, const std::string& prefix,
                                                     const char* name) const {
  const toml::node* node = table.get(name);
  if (!node) return std::nullopt;
  if (!node->is_string()) Fail(node, Join(prefix, name), "must be a string");
  std::u16string text = Utf8ToUtf16(node->as_string()->get());
  std::string problem = CheckNoNul(text);
  if (!problem.empty()) Fail(node, Join(prefix, name), problem);
  return text;
}

std::u16string ManifestReader::RequiredString(const toml::table& table, const std::string& prefix,
                                              const char* name) const {
  std::optional<std::u16string> text = String(table, prefix, name);
  if (!text) Fail(&table, Join(prefix, name), "required key is missing");
  if (text->empty()) Fail(table.get(name), Join(prefix, name), "must not be empty");
  return *text;
}

std::optional<std::string> ManifestReader::NarrowString(const toml::table& table, const std::string& prefix,
                                                        const char* name) const {
  const toml::node* node = table.get(name);
  if (!node) return std::nullopt;
  if (!node->is_string()) Fail(node, Join(prefix, name), "must be a string");
  return node->as_string()->get();
}

std::optional<uint64_t> ManifestReader::Integer(const toml::table& table, const std::string& prefix,
                                                const char* name, uint64_t max) const {
  const toml::node* node = table.get(name);
  if (!node) return std::nullopt;
  if (!node->is_integer() || node->as_integer()->get() < 0 ||
      static_cast<uint64_t>(node->as_integer()->get()) > max)
    Fail(node, Join(prefix, name), "must be an integer from 0 to " + std::to_string(max));
  return static_cast<uint64_t>(node->as_integer()->get());
}

bool ManifestReader::Boolean(const toml::table& table, const std::string& prefix, const char* name) const {
  const toml::node* node = table.get(name);
  if (!node) return false;
  if (!node->is_boolean()) Fail(node, Join(prefix, name), "must be true or false");
  return node->as_boolean()->get();
}

uint64_t ManifestReader::FileTime(const toml::node& node, const std::string& key) const {
  if (node.is_integer() && node.as_integer()->get() >= 0) return static_cast<uint64_t>(node.as_integer()->get());
  if (!node.is_date_time())
    Fail(&node, key, "must be a date-time such as 2020-01-02T03:04:05Z or an integer FILETIME");
  const toml::date_time& t = node.as_date_time()->get();
  int64_t seconds = DaysFromCivil(t.date.year, t.date.month, t.date.day) * 86400 + t.time.hour * 3600 +
                    t.time.minute * 60 + t.time.second;
  if (t.offset) seconds -= int64_t{t.offset->minutes} * 60;
  if (seconds < -11644473600) Fail(&node, key, "lies before 1601");
  return UnixTimeToFileTime(seconds, t.time.nanosecond);
}
