#pragma once

// Every fault message of the reader and the strip sources, defined once. Each is shown as
// "<file name> : <message>" on standard error.
namespace msg {

inline constexpr char file_not_found[] = "file not found.";
inline constexpr char bad_magic_number[] = "bad magic number.";
inline constexpr char unexpected_end_of_file[] = "unexpected end of file.";
inline constexpr char primary_attribute_not_found[] = "primary image attribute not found.";
inline constexpr char too_large_image_size[] = "too large image size.";
inline constexpr char bad_photometric[] = "bad photometric interpretation.";
inline constexpr char too_many_samples_per_pixel[] = "too many samples per pixel.";
inline constexpr char too_many_bits_per_sample[] = "too many bits per sample.";
inline constexpr char bad_planar_configuration[] = "bad planar configuration.";
inline constexpr char bad_fill_order[] = "bad fill order.";
inline constexpr char unknown_compression[] = "unknown image compression method.";
inline constexpr char unknown_predictor[] = "unknown differencing predictor.";
inline constexpr char description_memory[] = "image description memory allocation error.";
inline constexpr char cell_memory[] = "cell memory allocation error.";
inline constexpr char strip_offset_memory[] = "strip offset memory allocation error.";
inline constexpr char strip_offset_not_found[] = "strip offset not found.";
inline constexpr char bad_strip_offset_count[] = "bad number of strip offset.";
inline constexpr char strip_bytes_memory[] = "strip bytes count memory allocation error.";
inline constexpr char strip_bytes_not_found[] = "strip bytes count not found.";
inline constexpr char bad_strip_bytes_count[] = "bad number of strip bytes count.";

inline constexpr char raw_too_few_codes[] = "too few codes.";
inline constexpr char raw_too_many_codes[] = "too many codes.";

inline constexpr char lzw_too_few_codes[] = "LZW too few codes.";
inline constexpr char lzw_too_many_codes[] = "LZW too many codes.";
inline constexpr char lzw_missing_first_clear[] = "LZW missing first clear code.";
inline constexpr char lzw_unexpected_end[] = "LZW unexpected end of code.";
inline constexpr char lzw_unknown_after_clear[] = "LZW unknown code after clear code.";
inline constexpr char lzw_too_large_code[] = "LZW too large code.";
inline constexpr char lzw_too_long_string[] = "LZW too long string.";
inline constexpr char lzw_table_overflow[] = "LZW code table overflow.";
inline constexpr char lzw_missing_end[] = "LZW missing end of codes.";

inline constexpr char mpb_too_few_codes[] = "MPB too few codes.";
inline constexpr char mpb_too_many_codes[] = "MPB too many codes.";

}  // namespace msg
