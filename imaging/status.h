// Status codes of the imaging library.
//
// Every library call returns a signed 32-bit status: IMG_OK (0) or one of the
// negative codes below. The same number means the same thing in every module;
// the table is fixed, so new failure kinds reuse the nearest existing code.
#pragma once

#include <cstdint>

namespace imaging {

using ImgStatus = int32_t;

inline constexpr ImgStatus IMG_OK = 0;
inline constexpr ImgStatus IMG_ERR_RANGE = -1;
inline constexpr ImgStatus IMG_ERR_OPEN = -4;
inline constexpr ImgStatus IMG_ERR_PARAM = -5;
inline constexpr ImgStatus IMG_ERR_TIFF_STRUCTURE = -6;
inline constexpr ImgStatus IMG_ERR_ENCODING = -9;
inline constexpr ImgStatus IMG_ERR_COMPRESSED = -12;
inline constexpr ImgStatus IMG_ERR_MEMORY = -14;
inline constexpr ImgStatus IMG_ERR_JPEG_NO_IMAGE = -15;
inline constexpr ImgStatus IMG_ERR_PCX = -16;
inline constexpr ImgStatus IMG_ERR_NOT_GIF = -17;
inline constexpr ImgStatus IMG_ERR_TGA = -25;
inline constexpr ImgStatus IMG_ERR_BPP = -26;
inline constexpr ImgStatus IMG_ERR_NOT_BMP = -27;
inline constexpr ImgStatus IMG_ERR_BAD_BUFFER = -42;
inline constexpr ImgStatus IMG_ERR_JPEG = -43;
inline constexpr ImgStatus IMG_ERR_CCITT_ROW = -44;
inline constexpr ImgStatus IMG_ERR_TIFF_PAGE = -51;
inline constexpr ImgStatus IMG_ERR_LZW = -62;
inline constexpr ImgStatus IMG_ERR_PNG = -63;
inline constexpr ImgStatus IMG_ERR_TIFF_SIZE = -73;

// The phone-image reader's codes.
inline constexpr ImgStatus IMG_ERR_XML_LOAD = -200;      // file cannot be read or parsed
inline constexpr ImgStatus IMG_ERR_XML_ROOT = -201;      // top level is not one bare root element
inline constexpr ImgStatus IMG_ERR_XML_NO_NODE = -202;   // element reader given no node
inline constexpr ImgStatus IMG_ERR_XML_NO_DEST = -203;   // element reader given no destination
inline constexpr ImgStatus IMG_ERR_XML_NO_TEXT = -204;   // child element without exactly one child
inline constexpr ImgStatus IMG_ERR_XML_NOT_TEXT = -205;  // child element's content is not text
inline constexpr ImgStatus IMG_ERR_XML_LOCATION_X = -206;  // LocationX is not a number
inline constexpr ImgStatus IMG_ERR_XML_LOCATION_Y = -207;  // LocationY is not a number
inline constexpr ImgStatus IMG_ERR_XML_WIDTH = -208;       // Width is not a number
inline constexpr ImgStatus IMG_ERR_XML_HEIGHT = -209;      // Height is not a number
inline constexpr ImgStatus IMG_ERR_XML_DEPTH = -210;       // Depth is not a number
inline constexpr ImgStatus IMG_ERR_XML_DATA = -211;        // illegal character in Data
inline constexpr ImgStatus IMG_ERR_XML_UNKNOWN = -212;     // unrecognised child element

// The constant's name for a status ("IMG_ERR_MEMORY"), or "IMG_UNKNOWN_STATUS"
// for a number outside the table. Never null.
const char* status_name(ImgStatus status);

}  // namespace imaging
