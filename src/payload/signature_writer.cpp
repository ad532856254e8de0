#include "payload/signature_writer.h"

#include <fmt/format.h>

#include <stdexcept>

namespace vyn::sfx::signature {
namespace {

std::uint32_t read_u32(const std::vector<std::uint8_t>& data, std::uint64_t offset) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= std::uint32_t{data[offset + i]} << (8 * i);
  return value;
}

void write_u32(std::vector<std::uint8_t>& data, std::uint64_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) data[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void append(std::vector<std::uint8_t>& data, std::string_view text) {
  data.insert(data.end(), text.begin(), text.end());
}

std::string marker(int version, block_form form) {
  return fmt::format("VYNSig{}{}", version, form == block_form::binary ? 'B' : 'A');
}

std::string_view ending_text(line_ending ending) {
  switch (ending) {
    case line_ending::lf: return "\n";
    case line_ending::crlf: return "\r\n";
    case line_ending::none: break;
  }
  return {};
}

// Bytes the block adds behind the signed region.
std::size_t block_length(const sign_options& options) {
  if (options.form == block_form::binary) return binary_block_size;
  std::size_t length = text_block_size;
  if (options.xml_comment) length += 4 + ending_text(options.line_end).size();  // " -->"
  return length;
}

void refuse_signed_input(bytes input) {
  if (ends_in_block(input)) throw refused("The data already ends in a signature block; sign the unsigned original.");
}

// Applies the certificate table rules to a PE image (see the header).
void prepare_pe(std::vector<std::uint8_t>& data, const pe_fields& pe, const sign_options& options) {
  const std::uint32_t offset = read_u32(data, pe.cert_entry);
  const std::uint32_t size = read_u32(data, pe.cert_entry + 4);
  const std::uint64_t table_end = std::uint64_t{offset} + size;
  if ((offset != 0 || size != 0) && table_end <= data.size()) {
    if (!options.strip_cert_table) {
      throw refused(fmt::format(
          "The PE image carries a certificate table (Authenticode signature) at offset {} of {} "
          "bytes. Its signature covers every byte in front of the table, so our block can go "
          "neither in front of it nor behind it: sign the image before Authenticode signing, or "
          "strip the table and sign with Authenticode again afterwards.",
          offset, size));
    }
    data.resize(offset);
    write_u32(data, pe.cert_entry, 0);
    write_u32(data, pe.cert_entry + 4, 0);
  }
  if (options.reserve_cert_table) {
    const bool xml = options.form == block_form::text && options.xml_comment;
    const std::uint64_t signed_end = data.size() + (xml ? 5 : 0) + block_length(options);
    const std::uint64_t aligned = (signed_end + 7) / 8 * 8;
    if (aligned + *options.reserve_cert_table > 0xFFFFFFFFu) {
      throw refused("The reserved certificate table would end beyond 4 GiB.");
    }
    write_u32(data, pe.cert_entry, static_cast<std::uint32_t>(aligned));
    write_u32(data, pe.cert_entry + 4, *options.reserve_cert_table);
  }
}

}  // namespace

std::string text_block(std::span<const std::uint8_t, signature_size> signature, int version) {
  static constexpr char digits[] = "0123456789abcdef";
  const std::string mark = marker(version, block_form::text);
  std::string text = mark;
  for (std::uint8_t b : signature) {
    text += digits[b >> 4];
    text += digits[b & 0xF];
  }
  return text + mark;
}

signed_output sign_data(bytes input, const sign_options& options, const digest_signer& signer) {
  if (options.version != 2 && options.version != 3) {
    throw refused(fmt::format("Unknown signature version {}; use 2 or 3.", options.version));
  }
  refuse_signed_input(input);
  signed_output out;
  out.data.assign(input.begin(), input.end());
  const auto pe = recognise_pe(input);
  out.pe = pe.has_value();
  if (pe) {
    prepare_pe(out.data, *pe, options);
  } else if (options.reserve_cert_table) {
    throw refused("A certificate table can only be reserved in a PE image.");
  }
  if (options.form == block_form::text && options.xml_comment) append(out.data, "<!-- ");
  out.signed_length = out.data.size();
  out.digest = signed_digest(out.data, pe, out.signed_length, options.version);
  const auto signature = signer(std::span<const std::uint8_t, 32>(out.digest.bytes().data(), 32));
  if (options.form == block_form::binary) {
    out.data.insert(out.data.end(), signature.begin(), signature.end());
    append(out.data, marker(options.version, block_form::binary));
  } else {
    append(out.data, text_block(signature, options.version));
    if (options.xml_comment) {
      append(out.data, " -->");
      append(out.data, ending_text(options.line_end));
    }
  }
  // The verifier must find exactly the block just written and hash the region the same way (a
  // truncated image, for one, could turn into a recognised PE image by growing).
  const auto final_pe = recognise_pe(out.data);
  const auto located = locate_block(considered_data(out.data, final_pe));
  if (!located || located->signed_length != out.signed_length || located->signature != signature ||
      !(signed_digest(out.data, final_pe, out.signed_length, options.version) == out.digest)) {
    throw refused("The signed data would not present its block to the verifier as written.");
  }
  return out;
}

}  // namespace vyn::sfx::signature
