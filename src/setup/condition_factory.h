#pragma once
// Makes conditions from element names. Names are exact and case-sensitive; each kind is
// registered under its name and, negated, under "not-" followed by its name.

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "setup/condition.h"

namespace vyn::repository::conditions {

class basic_factory {
 public:
  // The kind T with its result inverted; building, writing and errors stay T's.
  template <class T>
  class negate_condition : public T {
   public:
    bool evaluate(const basic_context& context) const override { return !T::evaluate(context); }
  };

  // A factory knowing every condition of the language ("conditions" roots are made directly).
  basic_factory();

  // A new, unbuilt condition. Raises vyn::exceptions::error "Unable to parse element '<name>' as a
  // condition!" for a name that is not registered.
  std::unique_ptr<basic_condition> create(std::wstring_view name) const;

  template <class T>
  void register_condition(const std::wstring& name) {
    creators_.insert_or_assign(name, [] { return std::unique_ptr<basic_condition>(new T()); });
    creators_.insert_or_assign(L"not-" + name,
                               [] { return std::unique_ptr<basic_condition>(new negate_condition<T>()); });
  }

 private:
  using creator = std::unique_ptr<basic_condition> (*)();
  std::map<std::wstring, creator, std::less<>> creators_;
};

}  // namespace vyn::repository::conditions
