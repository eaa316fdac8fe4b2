// The file and page headers of the two raster formats: where their fields sit, and the
// checks a page header must pass before a line of it is decoded. Private to raster/.
#pragma once

#include "raster/rasterdecoder.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Bytes before the first page: the sync word, and for URF the page count after it.
size_t RasterFileHeaderSize(RasterFormat format);
size_t RasterPageHeaderSize(RasterFormat format);

// Checks the file header and reads the page count it announces (0: not said; PWG says
// it in each page header instead). Empty when it is good, else what is wrong.
std::string ReadRasterFileHeader(RasterFormat format, const uint8_t* header, uint32_t& announcedPages);

// Reads a page header into `page` (all but its number) and `announcedPages` (PWG's
// TotalPageCount; 0 for URF). Empty when the page can be decoded within `limits`, else
// what is wrong.
std::string ReadRasterPageHeader(RasterFormat format, const uint8_t* header, const RasterLimits& limits,
                                 RasterPage& page, uint32_t& announcedPages);
