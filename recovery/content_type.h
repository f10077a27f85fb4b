// The type a found item's bytes show it to be, where one header serves
// several types: a zip that is a Word document, a compound file that is an
// Excel workbook, a Matroska file that is WebM. Pure functions of the bytes,
// called by the recovery's worker thread while it plans an item.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "recovery/item_bytes.h"

namespace tamberlin::recovery {

// The type key ("DOCX", "XLS", "WEBM") to write the item with, given its
// catalogue type key and its length in bytes from the item's start. Returns
// `type` itself when the content names no other type, when the type has no
// relatives to tell apart, or when the bytes are too damaged to tell.
std::string Type_From_Content(ItemBytes& bytes, std::string_view type, std::uint64_t length);

}  // namespace tamberlin::recovery
