#pragma once
// The setup information document ("kestro-info.xml"): the run's facts for the setup master.

#include <memory>
#include <mutex>

#include "setup/kestro_info_intf.h"

namespace vyn::sfx {

class kestro_info : public kestro_info_intf {
 public:
  class factory {
   public:
    virtual ~factory() = default;
    // A document holding the declaration and the empty root element.
    virtual std::shared_ptr<kestro_info_intf> create_kestro_info() = 0;
  };

  // Builds the XML declaration and the root element "kestro-info".
  kestro_info();
  kestro_info(const kestro_info&) = delete;
  kestro_info& operator=(const kestro_info&) = delete;
  ~kestro_info() = default;

  void append_copy(const pugi::xml_node& node) override;
  void append_move(const pugi::xml_node& node) override;
  bool save(const std::wstring& path) override;

 private:
  std::mutex lock_;  // serialises every operation; operations never call each other
  pugi::xml_document document_;
  pugi::xml_node root_;
};

}  // namespace vyn::sfx
