// Writes starting inputs for fuzz_signature_check into a folder: signed PE images (both digest
// versions, with and without a certificate table), XML and plain text blocks, data signed with
// key set 8, valid ECDSA (plain and compressed keys) and DSA cases, and arithmetic cases.
//   fuzz_signature_seeds <folder>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_signature_input.h"
#include "payload/keys.h"
#include "payload/signature_testing.h"

namespace {

using namespace vyn::sfx;
using vyn::fuzz::signature_mode;

void write(const std::string& folder, const std::string& name, signature_mode mode,
           const std::vector<std::uint8_t>& body) {
  std::ofstream out(folder + "/" + name, std::ios::binary);
  out.put(static_cast<char>(mode));
  out.write(reinterpret_cast<const char*>(body.data()), static_cast<std::streamsize>(body.size()));
}

std::vector<std::uint8_t> concat(std::initializer_list<std::span<const std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (auto p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_signature_seeds <folder>\n");
    return 2;
  }
  const std::string folder = argv[1];
  signature::sign_options binary2, binary3, xml2, text3;
  binary2.version = 2;
  xml2.form = text3.form = signature::block_form::text;
  xml2.version = 2;
  xml2.xml_comment = true;
  xml2.line_end = signature::line_ending::crlf;

  const auto pe32 = testing::minimal_pe_image(false, 600);
  const auto pe64 = testing::minimal_pe_image(true, 900);
  write(folder, "pe32-v2", signature_mode::check, testing::sign(pe32, binary2));
  write(folder, "pe64-v3-ecdsa", signature_mode::check,
        testing::sign(pe64, binary3, 7, signature::key_kind::ecdsa, 1));
  auto with_table = testing::sign(pe32, binary3, 7, signature::key_kind::dsa, 1);
  testing::append_cert_table(with_table, 40);
  write(folder, "pe32-v3-cert-table", signature_mode::check, with_table);
  const std::string xml = "<?xml version=\"1.0\"?>\r\n<sfx-info><product id=\"x\"/></sfx-info>\r\n";
  const std::vector<std::uint8_t> xml_bytes(xml.begin(), xml.end());
  write(folder, "xml-v2", signature_mode::check, testing::sign(xml_bytes, xml2));
  write(folder, "text-v3", signature_mode::check, testing::sign(xml_bytes, text3));
  write(folder, "unsigned", signature_mode::check, xml_bytes);
  write(folder, "locate-pe32-v2", signature_mode::locate, testing::sign(pe32, binary2));
  write(folder, "locate-cert-table", signature_mode::locate, with_table);
  write(folder, "locate-xml", signature_mode::locate, testing::sign(xml_bytes, xml2));
  write(folder, "signed-by-set8", signature_mode::check, testing::sign(xml_bytes, binary3, 8, signature::key_kind::ecdsa, 6));

  std::array<std::uint8_t, 32> digest{};
  for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<std::uint8_t>(i * 13 + 5);
  const auto& set7 = keys::build_key_set(7);
  const auto ecdsa_sig = testing::sign_digest(testing::test_key(7, signature::key_kind::ecdsa, 0), digest);
  const auto point = set7.ecdsa[0];
  std::vector<std::uint8_t> compressed(point.begin(), point.begin() + 33);
  compressed[0] = static_cast<std::uint8_t>(0x02 | (point[64] & 1));
  const std::uint8_t len65[] = {65}, len33[] = {33};
  write(folder, "ecdsa", signature_mode::ecdsa, concat({len65, point, digest, ecdsa_sig}));
  write(folder, "ecdsa-compressed", signature_mode::ecdsa, concat({len33, compressed, digest, ecdsa_sig}));
  const auto dsa_sig = testing::sign_digest(testing::test_key(7, signature::key_kind::dsa, 0), digest);
  const auto& k = set7.dsa[0];
  write(folder, "dsa", signature_mode::dsa, concat({k.p, k.q, k.g, k.y, digest, dsa_sig}));

  const std::uint8_t sizes[] = {8, 8, 8};
  write(folder, "arith-p256", signature_mode::arithmetic, concat({sizes, digest, digest, point.subspan(1, 32)}));
  const std::uint8_t big[] = {64, 64, 64};
  write(folder, "arith-2048", signature_mode::arithmetic, concat({big, k.g, k.y, k.p}));
  return 0;
}
