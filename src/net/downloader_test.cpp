// The repository downloader against the real servers: objects the test publishes below nginx's
// folder, served by nginx and, with scripted faults, by the fault server.

#include "net/sfx_downloader.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>

#include <fmt/format.h>

#include "app/value_holder.h"
#include "foundation/exceptions.h"
#include "foundation/files.h"
#include "foundation/strings.h"
#include "net/sfx_proxy_parser.h"
#include "net/test_repository.h"
#include "net/test_servers.h"
#include "payload/lzma_codec.h"
#include "payload/signature_testing.h"
#include "payload/testing/test_support.h"

namespace vyn::sfx {
namespace {

using http::testing::bytes;
using http::testing::packed_object;
using http::testing::sha256_hex;
using http::testing::unique_id;
using http::testing::universe_path;
using signature::key_kind;

bytes content_of(std::size_t size, std::uint32_t seed) {
  bytes out(size);
  for (std::size_t i = 0; i < size; ++i) {
    seed = seed * 1664525u + 1013904223u;
    out[i] = (i % 64 < 40) ? static_cast<std::uint8_t>("setup file "[i % 11]) : static_cast<std::uint8_t>(seed >> 24);
  }
  return out;
}

// The downloader with a transport that does not wait between attempts.
class quick_downloader : public sfx_downloader {
 public:
  using sfx_downloader::sfx_downloader;
  std::vector<std::uint32_t> pauses;
  std::unique_ptr<sfx_win_http_intf> create_sfx_win_http(std::optional<http::ProxySettings> proxy) override {
    return std::make_unique<sfx_win_http>(std::move(proxy), [this](std::uint32_t ms) { pauses.push_back(ms); });
  }
};

class Downloader : public ::testing::Test {
 protected:
  Downloader() {
    context_.values = std::make_shared<value_holder>();
    context_.values->set(L"base-url", nginx_base());
  }
  ~Downloader() override { std::filesystem::remove_all(std::filesystem::path(servers_.windows_path("www/" + repo_))); }

  std::wstring nginx_base() const {
    return utils::to_wide(fmt::format("https://localhost:{}/{}", servers_.port("NGINX_HTTPS_PORT"), repo_));
  }
  // The fault server's answers for this test's repository, scripted by rules ("-" for none).
  std::wstring fault_base(const std::string& rules, const char* port = "FAULT_DUAL_PORT") const {
    return utils::to_wide(fmt::format("https://localhost:{}/f/{}/{}/{}", servers_.port(port), id_, rules, repo_));
  }

  // Publishes a setup file; returns its hash text.
  std::wstring publish(const bytes& content, const http::testing::signer& by = {}) {
    put(universe_path(content), packed_object(content, by));
    return utils::to_wide(sha256_hex(content));
  }
  void put(const std::string& path, const bytes& data) {
    http::testing::write_file(servers_.windows_path("www/" + repo_ + "/" + path), data);
  }

  std::wstring target(const wchar_t* name = L"file.bin") const { return (folder_ / name).wstring(); }
  std::vector<std::wstring> left_in_folder() const {
    std::vector<std::wstring> names;
    files::enumerate_directory(folder_.path().wstring(), [&](const files::directory_entry& e) {
      names.push_back(e.name);
      return true;
    });
    return names;
  }

  http::testing::test_servers servers_;
  std::string id_ = unique_id("dl");
  std::string repo_ = "repo-" + id_;
  sfx::testing::temp_folder folder_;
  shared_context context_;
  quick_downloader downloader_{context_};
};

TEST_F(Downloader, ObjectByHash_IsUnpackedCheckedAndPlacedWithItsSpeedAndProgress) {
  const bytes content = content_of(300000, 1);
  const std::wstring hash = publish(content);
  std::uint64_t received = 0;
  std::int64_t announced = 0;
  downloader_.set_progress_callback([&](std::uint32_t chunk, std::int64_t total) {
    received += chunk;
    announced = total;
  });
  const sfx::testing::log_capture log;
  downloader_.download_by_hash(hash, target(), hash);

  EXPECT_TRUE(files::get_file_content(target()) == content);
  EXPECT_EQ(left_in_folder(), std::vector<std::wstring>{L"file.bin"}) << "the packed download is gone";
  const auto packed_size = packed_object(content).size();
  EXPECT_EQ(received, packed_size);
  EXPECT_EQ(announced, static_cast<std::int64_t>(packed_size));
  EXPECT_GT(downloader_.average_speed(), 0.0);
  const std::string url = utils::to_narrow(nginx_base()) + "/universe/" + utils::to_narrow(hash.substr(0, 4));
  EXPECT_EQ(log.count("Download of '" + url), 1) << log.text();
  EXPECT_EQ(log.count("succeeded. (speed current: "), 1);
}

// Whatever goes wrong with an object, neither the target nor the packed download stays.
TEST_F(Downloader, BadObjects_FailWithTheirErrorsAndLeaveNothing) {
  const bytes content = content_of(50000, 2);
  const std::wstring hash = publish(content);
  const bytes foreign = content_of(40000, 3);
  const std::wstring foreign_hash = publish(foreign, {8, key_kind::dsa, 0});
  // The object of another file stored under this one's hash: validly signed, wrong content.
  const bytes other = content_of(30000, 4);
  const std::wstring swapped_hash = utils::to_wide(sha256_hex(content_of(30001, 4)));
  put(universe_path(content_of(30001, 4)), packed_object(other));
  enum class kind { invalid_signature, general, download };
  const struct {
    const char* name;
    std::wstring base;
    std::wstring hash;
    kind expected;
    std::uint32_t code;  // of a download failure; 0 for any
  } cases[] = {
      {"foreign key", nginx_base(), foreign_hash, kind::invalid_signature, 0},
      {"one byte changed", fault_base("universe=flip:100"), hash, kind::invalid_signature, 0},
      {"wrong content", nginx_base(), swapped_hash, kind::general, 0},
      {"500 every time", fault_base("universe=status:500"), hash, kind::download, 0},
      {"404", nginx_base(), utils::to_wide(std::string(64, 'a')), kind::download, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    context_.values = std::make_shared<value_holder>();
    context_.values->set(L"base-url", c.base);
    try {
      downloader_.download_by_hash(c.hash, target(), c.hash);
      ADD_FAILURE() << "no failure";
    } catch (const exceptions::download_file_invalid_signature& e) {
      EXPECT_EQ(c.expected, kind::invalid_signature) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("DSA signature of LZMA file is invalid:'", 0), 0u) << e.what();
    } catch (const exceptions::download_file_fail& e) {
      EXPECT_EQ(c.expected, kind::download) << e.what();
    } catch (const vyn::exceptions::error& e) {
      EXPECT_EQ(c.expected, kind::general) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("Fail unpack data, wrong checksum (", 0), 0u) << e.what();
    }
    EXPECT_TRUE(left_in_folder().empty());
  }
  // Two attempts over HTTPS, then one over HTTP, a second between each.
  const auto requests = servers_.requests(id_);
  EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                          [](const std::string& r) { return r.find("universe") != std::string::npos; }),
            1 + 3);
  EXPECT_NE(requests.back().find("GET http /f/"), std::string::npos) << requests.back();
}

TEST_F(Downloader, DroppedInTheMiddle_ResumedWithRangeAndComplete) {
  const bytes content = content_of(400000, 5);
  const std::wstring hash = publish(content);
  context_.values = std::make_shared<value_holder>();
  context_.values->set(L"base-url", fault_base("universe=drop:100000,ok"));
  downloader_.download_by_hash(hash, target(), hash);
  EXPECT_TRUE(files::get_file_content(target()) == content);
  const auto requests = servers_.requests(id_);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].find(" -"), std::string::npos) << requests[0];
  EXPECT_NE(requests[1].find(" bytes=100000-"), std::string::npos) << requests[1];
}

TEST_F(Downloader, BaseUrls_SchemeAddedWhenMissingRequiredOtherwise) {
  const bytes content = content_of(1000, 6);
  const std::wstring hash = publish(content);
  const std::string query_free = fmt::format("localhost:{}/{}", servers_.port("NGINX_HTTPS_PORT"), repo_);
  const std::string plain = fmt::format("http://localhost:{}/{}", servers_.port("NGINX_HTTP_PORT"), repo_);
  for (const std::string& base : {query_free, plain}) {
    SCOPED_TRACE(base);
    context_.values = std::make_shared<value_holder>();
    context_.values->set(L"base-url", utils::to_wide(base));
    downloader_.download_by_hash(hash, target(), hash);
    EXPECT_TRUE(files::get_file_content(target()) == content);
  }
  const auto served = servers_.log_lines("nginx/access.log", "/" + repo_ + "/universe/", 2);
  ASSERT_EQ(served.size(), 2u);
  EXPECT_EQ(served[0].rfind("https GET", 0), 0u) << served[0];
  EXPECT_EQ(served[1].rfind("http GET", 0), 0u) << served[1];

  context_.values = std::make_shared<value_holder>();
  const sfx::testing::log_capture log;
  try {
    downloader_.download_by_hash(hash, target(), hash);
    ADD_FAILURE();
  } catch (const exceptions::download_file_fail& e) {
    EXPECT_STREQ(e.what(), "Base url path is undefined.");
  }
  EXPECT_EQ(log.count("Base url path is undefined."), 1);
}

TEST_F(Downloader, EmptyExpectedHash_PlacesTheFileAndLogsTheMissingHash) {
  const bytes content = content_of(2000, 7);
  const std::wstring hash = publish(content);
  const sfx::testing::log_capture log;
  downloader_.download_by_hash(hash, target(), L"");
  EXPECT_TRUE(files::get_file_content(target()) == content);
  EXPECT_EQ(log.count("Missing hash info for '" + utils::to_narrow(target()) + "'"), 1);
}

TEST_F(Downloader, ProductDescription_CheckedTwiceUnpackedAndParsed) {
  const std::string xml = "<product-info><name>demo</name><version>2.0</version><setup-files/></product-info>\n";
  put("defs/demo/release.xml.lzma", packed_object(http::testing::signed_xml(xml)));
  const auto parser = downloader_.download_product_info(nginx_base() + L"/defs/demo/release.xml.lzma");
  ASSERT_TRUE(parser);
  EXPECT_EQ(parser->name(), L"demo");
  EXPECT_EQ(parser->version(), L"2.0");

  // Outer block fine, document's own one broken: the changed name is still under its signature.
  bytes altered = http::testing::signed_xml(xml);
  altered[20] = 'X';
  put("defs/demo/altered.xml.lzma", packed_object(altered));
  put("defs/demo/empty.xml.lzma", packed_object(bytes{}));
  const struct {
    const char* name;
    std::wstring url;
    bool invalid_signature;
    std::uint32_t code;
    std::string message;
  } cases[] = {
      {"204", fault_base("defs=status:204") + L"/defs/demo/release.xml.lzma", false, 13, "No content, 204 status"},
      {"empty", nginx_base() + L"/defs/demo/empty.xml.lzma", false, 13,
       "Downloaded product-info.xml (url " + utils::to_narrow(nginx_base()) + "/defs/demo/empty.xml.lzma) is empty."},
      {"document's signature", nginx_base() + L"/defs/demo/altered.xml.lzma", true, vyn::exceptions::no_code,
       "DSA signature is invalid:'" + utils::to_narrow(nginx_base()) + "/defs/demo/altered.xml.lzma'."},
      {"packed stream's signature", fault_base("defs=flip:-100") + L"/defs/demo/release.xml.lzma", true,
       vyn::exceptions::no_code, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      downloader_.download_product_info(c.url);
      ADD_FAILURE() << "no failure";
    } catch (const exceptions::download_file_fail& e) {
      EXPECT_EQ(dynamic_cast<const exceptions::download_file_invalid_signature*>(&e) != nullptr, c.invalid_signature);
      EXPECT_EQ(e.code(), c.code);
      if (!c.message.empty()) EXPECT_EQ(e.what(), c.message);
    }
  }
}

TEST_F(Downloader, ModuleCheck_RefusesAnUnsignedModuleAndDeletesIt) {
  const bytes unsigned_module = content_of(5000, 8);
  signature::sign_options options;
  const bytes signed_module = sfx::testing::sign(unsigned_module, options);
  put("mods/unsigned.dll.lzma", packed_object(unsigned_module));
  put("mods/signed.dll.lzma", packed_object(signed_module));
  downloader_.download_and_unpack(nginx_base() + L"/mods/signed.dll.lzma", target(L"kestro_mod.dll"), true, true);
  EXPECT_TRUE(files::get_file_content(target(L"kestro_mod.dll")) == signed_module);
  EXPECT_THROW(
      downloader_.download_and_unpack(nginx_base() + L"/mods/unsigned.dll.lzma", target(L"kestro_mod.dll"), true, true),
      exceptions::download_file_invalid_signature);
  EXPECT_TRUE(left_in_folder().empty());
  // Without the check the same module is placed.
  downloader_.download_and_unpack(nginx_base() + L"/mods/unsigned.dll.lzma", target(L"kestro_mod.dll"), false, true);
  EXPECT_TRUE(files::get_file_content(target(L"kestro_mod.dll")) == unsigned_module);
}

TEST_F(Downloader, ToFile_KeepsThePackedObjectAndChecksItWithTheAskedKeySet) {
  const bytes content = content_of(3000, 9);
  put("files/set7.lzma", packed_object(content));
  put("files/set8.lzma", packed_object(content, {8, key_kind::ecdsa, 2}));
  downloader_.download_to_file(nginx_base() + L"/files/set7.lzma", target(), true, false);
  EXPECT_TRUE(files::get_file_content(target()) == packed_object(content));
  EXPECT_THROW(downloader_.download_to_file(nginx_base() + L"/files/set8.lzma", target(), true, false),
               exceptions::download_file_invalid_signature);
  downloader_.download_to_file(nginx_base() + L"/files/set8.lzma", target(), true, true);
  EXPECT_TRUE(files::get_file_content(target()) == packed_object(content, {8, key_kind::ecdsa, 2}));
}

// The run's proxy parser decides the route: through the open proxy, the object arrives and the
// proxy saw it.
class proxy_settings_parser : public sfx_proxy_parser_intf {
 public:
  explicit proxy_settings_parser(http::ProxySettings settings) : settings_(std::move(settings)) {}
  bool is_configured() const override { return true; }
  const http::ProxySettings& settings() const override { return settings_; }
  std::optional<http::ProxySettings> settings_copy() const override { return settings_; }

 private:
  http::ProxySettings settings_;
};

TEST_F(Downloader, RunsProxy_CarriesTheTransfer) {
  const bytes content = content_of(4000, 10);
  const std::wstring hash = publish(content);
  http::ProxySettings settings;
  settings.type = 2;
  settings.name = "127.0.0.2";
  settings.port = servers_.port("PROXY_OPEN_PORT");
  context_.proxy = std::make_shared<proxy_settings_parser>(settings);
  downloader_.download_by_hash(hash, target(), hash);
  EXPECT_TRUE(files::get_file_content(target()) == content);
  EXPECT_FALSE(servers_.log_lines("proxy-open.log", "localhost:" + servers_.value("NGINX_HTTPS_PORT")).empty());
}

}  // namespace
}  // namespace vyn::sfx
