// The converter's front end: the shared reading steps with a PhoneImage as the
// destination and failures thrown as text.

#include "phoneimage/phone_image.h"

#include "phoneimage/phone_image_reader.h"

using namespace imaging;

namespace phoneimage {

namespace {

void throw_if_failed(const StepResult& result) {
    if (result.ok()) {
        return;
    }
    if (result.fixed_message != nullptr) {
        throw result.fixed_message;
    }
    throw result.message;
}

class RecordDestination final : public ReadDestination {
  public:
    explicit RecordDestination(PhoneImage& image) : image_(image) {}

    void set_number(NumberField field, int32_t value) override {
        switch (field) {
            case NumberField::location_x:
                image_.location_x = value;
                break;
            case NumberField::location_y:
                image_.location_y = value;
                break;
            case NumberField::width:
                image_.width = value;
                break;
            case NumberField::height:
                image_.height = value;
                break;
            case NumberField::depth:
                image_.depth = value;
                break;
        }
    }

    void set_text(TextField field, std::string_view text) override {
        (field == TextField::title ? image_.title : image_.prompt).assign(text);
    }

    // Each Data element replaces the values of the one before. They stay
    // packed, four to a byte, until finish(): the record holds one byte per
    // value, which need not be held beside the document being read.
    void set_pixels(PixelData&& pixels) override {
        pixels_ = std::move(pixels);
        has_pixels_ = true;
    }

    // Expands the last Data's values into the record.
    void finish() {
        if (has_pixels_) {
            image_.pixel_values.clear();
            image_.pixel_values.shrink_to_fit();
            image_.pixel_values.resize(pixels_.size());
            pixels_.copy_values(0, pixels_.size(), image_.pixel_values.data(), 0);
            pixels_ = PixelData();
            has_pixels_ = false;
        }
    }

  private:
    PhoneImage& image_;
    PixelData pixels_;
    bool has_pixels_ = false;
};

void clear_texts_and_pixels(PhoneImage& image) {
    image.title.clear();
    image.prompt.clear();
    image.pixel_values.clear();
}

// Reads a whole document into the record with read(destination), then throws
// its failure.
template <typename Read>
void read_record(PhoneImage& image, Read read) {
    clear_texts_and_pixels(image);
    RecordDestination destination(image);
    const StepResult result = read(destination);
    destination.finish();
    throw_if_failed(result);
}

}  // namespace

void phone_image_load(PhoneImage& image, const std::string& path) {
    read_record(image, [&](RecordDestination& destination) {
        return read_file(path, destination, ReadMode::load);
    });
}

void phone_image_load_document(PhoneImage& image, const xml::Document& document) {
    read_record(image, [&](RecordDestination& destination) {
        return read_document(document, destination, ReadMode::load);
    });
}

void phone_image_check_root(const xml::NodeList* top_level) {
    throw_if_failed(check_root(top_level));
}

void phone_image_read_element(PhoneImage& image, const xml::Node* node) {
    RecordDestination destination(image);
    const StepResult result = read_element(&destination, node);
    destination.finish();
    throw_if_failed(result);
}

int32_t phone_image_parse_number(std::string_view name, std::string_view text) {
    int32_t value = 0;
    // The status is the viewer's concern; any failure code serves here.
    throw_if_failed(parse_number(name, text, IMG_ERR_XML_WIDTH, &value));
    return value;
}

void phone_image_decode_data(PhoneImage& image, std::string_view text) {
    PixelData pixels;
    throw_if_failed(decode_data(text, &pixels));
    RecordDestination destination(image);
    destination.set_pixels(std::move(pixels));
    destination.finish();
}

}  // namespace phoneimage
