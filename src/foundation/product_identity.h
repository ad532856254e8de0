#pragma once
// The running program's brand record and the folders derived from it.
//
// brand() and data_folder() are computed once per process from the program's own image and the
// registry. The pieces they are made of take the product identifier and a registry wrapper, so
// tests drive them with any identifier and a fake registry.

#include <string>
#include <string_view>

#include "foundation/brand.h"
#include "foundation/registry_wrapper.h"

namespace vyn::root {

// The key under HKEY_LOCAL_MACHINE that holds the brand's DWORD "KestroEnabled":
// "SYSTEM\Software\<company name>\PersistentStorage". HKLM\SYSTEM is shared by the 32-bit and
// 64-bit registry views, so every build of every product of the brand sees the same value.
std::wstring persistent_storage_path(const brand_record& record);
inline constexpr std::wstring_view enabled_value_name = L"KestroEnabled";

// The record for a product identifier, with its enabled flag: always set for Pellin and
// Halvard, otherwise set when "KestroEnabled" exists and is non-zero.
brand_record make_brand_record(std::wstring_view product_id, std::wstring_view module_id,
                               registry::CRegistryWrapper& keys);

// The program's record. "ModuleId" comes from the host image when this image runs inside a host
// (the main image exports on_orvek_dll_unload) and the host has one, else from this image;
// "ProductId" always from this image. A missing "ProductId" raises vyn::exceptions::fatal with
// "Unable to determine product identifier from resources!".
const brand_record& brand();

// The data folder of a brand: the string "OverrideDataFolder" of HKEY_LOCAL_MACHINE
// "SYSTEM\Software\<company name>\Kestro" when it is set and not empty, otherwise
// <common_app_data>\<company name>\Kestro. Registry failures select the default silently.
std::wstring data_folder_for(const brand_record& record, registry::CRegistryWrapper& keys,
                             std::wstring_view common_app_data);

// <common application data>\<company name> of the program's brand.
std::wstring company_folder();
// data_folder_for() of the program's brand, computed on first use.
const std::wstring& data_folder();
// The data folder joined with "Logs".
std::wstring logs_folder();
// The folder joined with "kestro-info.xml".
std::wstring setup_info_path(std::wstring_view folder);

}  // namespace vyn::root
