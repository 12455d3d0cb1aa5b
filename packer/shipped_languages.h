// The translations of the wizard's texts that the packer ships
// (packer/shipped_texts.h), found by LANGID or by tag.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "package/package_format.h"
#include "packer/package_writer.h"
#include "packer/shipped_texts.h"

const ShippedLanguage* FindShippedLanguage(uint16_t langId);
const ShippedLanguage* FindShippedLanguage(const std::string& tag);
std::string CanonicalTag(const ShippedLanguage& language);
// The tags after the canonical one, blank-separated; empty when none.
std::string OtherTags(const ShippedLanguage& language);
const char* ShippedText(const ShippedLanguage& language, TextId id);
// The record with the shipped name and texts; English gives EnglishLanguage().
PackageLanguage ToPackageLanguage(const ShippedLanguage& language);
