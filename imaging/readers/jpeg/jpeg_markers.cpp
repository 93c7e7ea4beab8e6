// The marker pass of the JPEG reader.
//
// A JPEG file is a series of markers, each 0xFF and a code byte; most are
// followed by a segment whose big-endian 16-bit length counts itself:
//
//   SOI                start of image
//   APP0 "JFIF"...     JFIF header (the first APP0 must be one)
//   DQT                quantization tables: (precision, slot), 64 entries
//   DHT                Huffman tables: (class, slot), 16 counts, symbols
//   DRI                restart interval in MCUs
//   SOF0/1/2 ...       frame: precision, height, width, components with
//                      identifier, sampling factors, quantization slot
//   SOS                scan: components with table slots, Ss, Se, Ah, Al;
//                      the entropy-coded data follows, with RST0..7 markers
//                      every restart interval
//   ... more tables and scans (progressive) ...
//   EOI                end of image
//
// Bytes between markers that are not 0xFF are skipped; 0xFF 0xFF is a fill
// byte and 0xFF 0x00 a stuffed pair. Tables are checked and copied when their
// segment is read: a slot above 3 or a Huffman table of more than 256 codes is
// refused before anything is copied.

#include <algorithm>
#include <cstring>

#include "imaging/readers/jpeg/jpeg_decoder.h"

namespace imaging::jpeg {

namespace {

constexpr uint8_t kSof0 = 0xC0;
constexpr uint8_t kSof1 = 0xC1;
constexpr uint8_t kSof2 = 0xC2;
constexpr uint8_t kSof3 = 0xC3;
constexpr uint8_t kDht = 0xC4;
constexpr uint8_t kSof9 = 0xC9;
constexpr uint8_t kSof10 = 0xCA;
constexpr uint8_t kSof11 = 0xCB;
constexpr uint8_t kRst0 = 0xD0;
constexpr uint8_t kRst7 = 0xD7;
constexpr uint8_t kSoi = 0xD8;
constexpr uint8_t kEoi = 0xD9;
constexpr uint8_t kSos = 0xDA;
constexpr uint8_t kDqt = 0xDB;
constexpr uint8_t kDri = 0xDD;
constexpr uint8_t kApp0 = 0xE0;
constexpr uint8_t kTem = 0x01;

MarkerStop fail(Decoder& d, int32_t detail) {
    d.detail = detail;
    return MarkerStop::kFailed;
}

// Reads a segment's length word; *body receives the bytes after it.
bool read_length(Decoder& d, uint32_t* body) {
    uint8_t word[2];
    if (d.chunk.read(word, 2) != 2) {
        return false;
    }
    const uint32_t length = be16(word);
    if (length < 2) {
        return false;  // a length that does not even count itself
    }
    *body = length - 2;
    return true;
}

// Reads a segment's body into d.segment (65533 bytes at most).
bool read_body(Decoder& d, uint32_t size) {
    return d.chunk.read(d.segment.get(), size) == size;
}

bool parse_frame(Decoder& d, uint8_t code, const uint8_t* s, uint32_t n, int32_t* detail) {
    if (n < 6) {
        *detail = JPEG_DETAIL_DATA_ENDED;
        return false;
    }
    const uint32_t count = s[5];
    if (count > kMaxComponents) {
        *detail = JPEG_DETAIL_COMPONENT;
        return false;
    }
    if (n < 6 + 3 * count) {
        *detail = JPEG_DETAIL_DATA_ENDED;
        return false;
    }
    Frame& f = d.frame;
    f = Frame{};
    f.seen = true;
    f.process = code & 0x0F;
    f.precision = s[0];
    f.height = be16(s + 1);
    f.width = be16(s + 3);
    f.count = count;
    for (uint32_t i = 0; i < count; ++i) {
        Component& c = f.components[i];
        c.id = s[6 + 3 * i];
        c.h = s[7 + 3 * i] >> 4;
        c.v = s[7 + 3 * i] & 15;
        c.quant_slot = s[8 + 3 * i];
    }
    return true;
}

bool parse_huffman(Decoder& d, const uint8_t* s, uint32_t n, int32_t* detail) {
    uint32_t pos = 0;
    while (pos < n) {
        if (n - pos < 17) {
            *detail = JPEG_DETAIL_DATA_ENDED;
            return false;
        }
        const uint32_t table_class = s[pos] >> 4;
        const uint32_t slot = s[pos] & 15;
        if (slot >= kSlots) {
            *detail = JPEG_DETAIL_COMPONENT;
            return false;
        }
        const uint8_t* counts = s + pos + 1;
        uint32_t total = 0;
        for (int i = 0; i < 16; ++i) {
            total += counts[i];
        }
        if (total > 256) {
            *detail = JPEG_DETAIL_HUFFMAN;
            return false;
        }
        if (n - pos - 17 < total) {
            *detail = JPEG_DETAIL_DATA_ENDED;
            return false;
        }
        HuffmanSlot& target = table_class == 0 ? d.dc[slot] : d.ac[slot];
        target.defined = build_huffman_table(counts, s + pos + 17, total, &target.table);
        if (!target.defined) {
            *detail = JPEG_DETAIL_HUFFMAN;
            return false;
        }
        pos += 17 + total;
    }
    return true;
}

bool parse_quantization(Decoder& d, const uint8_t* s, uint32_t n, int32_t* detail) {
    uint32_t pos = 0;
    while (pos < n) {
        const bool sixteen = (s[pos] >> 4) != 0;
        const uint32_t slot = s[pos] & 15;
        if (slot >= kSlots) {
            *detail = JPEG_DETAIL_COMPONENT;
            return false;
        }
        const uint32_t size = sixteen ? 128 : 64;
        if (n - pos - 1 < size) {
            *detail = JPEG_DETAIL_DATA_ENDED;
            return false;
        }
        const uint8_t* entries = s + pos + 1;
        QuantSlot& q = d.quant[slot];
        for (int k = 0; k < 64; ++k) {
            const uint16_t v = sixteen ? be16(entries + 2 * k) : entries[k];
            q.natural[kZigzag[k]] = v == 0 ? 1 : v;  // an entry 0 acts as 1
        }
        q.defined = true;
        pos += 1 + size;
    }
    return true;
}

bool parse_scan(Decoder& d, const uint8_t* s, uint32_t n, int32_t* detail) {
    if (n < 1 || n < 1 + 2 * uint32_t{s[0]} + 3) {
        *detail = JPEG_DETAIL_DATA_ENDED;
        return false;
    }
    const uint32_t count = s[0];
    Scan& scan = d.scan;
    scan.count = std::min(count, 3u);
    Frame& f = d.frame;
    for (uint32_t i = 0; i < scan.count; ++i) {
        // The frame component with this identifier, searched from the last to
        // the second; the first when none matches.
        uint32_t index = 0;
        for (uint32_t j = f.count; j-- > 1;) {
            if (f.components[j].id == s[1 + 2 * i]) {
                index = j;
                break;
            }
        }
        scan.components[i] = index;
        f.components[index].dc_slot = s[2 + 2 * i] >> 4;
        f.components[index].ac_slot = s[2 + 2 * i] & 15;
    }
    const uint8_t* tail = s + 1 + 2 * count;
    scan.ss = tail[0];
    scan.se = tail[1];
    scan.ah = tail[2] >> 4;
    scan.al = tail[2] & 15;
    return true;
}

}  // namespace

MarkerStop marker_pass(Decoder& d, PassMode mode) {
    const bool header = mode == PassMode::kHeader;
    bool first = header;
    for (;;) {
        uint8_t code = 0;
        if (d.pending_marker != 0) {
            code = d.pending_marker;  // the entropy-coded data stopped at it
            d.pending_marker = 0;
        } else {
            uint8_t b = 0;
            if (!d.chunk.byte(&b)) {
                return fail(d, JPEG_DETAIL_DATA_ENDED);
            }
            if (b != 0xFF) {
                continue;  // not a marker: skipped
            }
            do {
                if (!d.chunk.byte(&code)) {
                    return fail(d, JPEG_DETAIL_DATA_ENDED);
                }
            } while (code == 0xFF);  // fill bytes
            if (code == 0x00) {
                continue;  // a stuffed pair
            }
        }
        if (first && code != kSoi) {
            return fail(d, 0);
        }
        first = false;
        if (code == kSoi || code == kTem || (code >= kRst0 && code <= kRst7)) {
            continue;  // no segment
        }
        if (code == kEoi) {
            return header ? fail(d, 0) : MarkerStop::kEndOfImage;
        }
        uint32_t size = 0;
        if (!read_length(d, &size)) {
            return fail(d, JPEG_DETAIL_DATA_ENDED);
        }
        const bool frame = code == kSof0 || code == kSof1 || code == kSof2 || code == kSof3 ||
                           code == kSof9 || code == kSof10 || code == kSof11;
        const bool app0 = code == kApp0 && header && !d.seen_app0;
        // Tolerance: a frame header or quantization table after the first
        // scan is skipped; the frame and its tables are fixed by then.
        const bool parsed = (frame && header) || code == kDht || (code == kDqt && header) ||
                            code == kDri || code == kSos || app0;
        if (!parsed) {
            if (!d.chunk.skip(size)) {
                return fail(d, JPEG_DETAIL_DATA_ENDED);
            }
            continue;
        }
        if (!read_body(d, size)) {
            return fail(d, JPEG_DETAIL_DATA_ENDED);
        }
        const uint8_t* s = d.segment.get();
        int32_t detail = 0;
        bool ok = true;
        if (frame) {
            ok = parse_frame(d, code, s, size, &detail);
        } else if (code == kDht) {
            ok = parse_huffman(d, s, size, &detail);
        } else if (code == kDqt) {
            ok = parse_quantization(d, s, size, &detail);
        } else if (code == kDri) {
            ok = size >= 2;
            detail = JPEG_DETAIL_DATA_ENDED;
            if (ok) {
                d.restart_interval = be16(s);
            }
        } else if (app0) {
            // The first APP0 must be a JFIF header ("JFIF", of which the
            // first three bytes are compared).
            d.seen_app0 = true;
            if (size < 3 || std::memcmp(s, "JFI", 3) != 0) {
                return fail(d, 0);
            }
        } else {
            ok = parse_scan(d, s, size, &detail);
            if (ok) {
                return MarkerStop::kScan;
            }
        }
        if (!ok) {
            return fail(d, detail);
        }
    }
}

void fill_info(const Decoder& d, JpegInfo* info) {
    *info = JpegInfo{};
    const Frame& f = d.frame;
    info->process = f.seen ? f.process : -1;
    if (!f.seen) {
        return;
    }
    info->width = f.width;
    info->height = f.height;
    info->components = f.count;
    info->precision = f.precision;
    for (uint32_t i = 0; i < f.count; ++i) {
        info->component_ids[i] = f.components[i].id;
    }
    info->bits_per_pixel = f.count == 1 ? 8 : 24;
}

}  // namespace imaging::jpeg
