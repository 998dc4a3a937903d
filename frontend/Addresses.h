// The product's addresses, defined once. They are reserved example names until the product has its own.
#pragma once

inline constexpr char kHomePageUrl[] = "https://pacterra.example/";
inline constexpr char kForumUrl[] = "https://pacterra.example/forum/";
inline constexpr char kFaqUrl[] = "https://pacterra.example/faq/";
inline constexpr char kSupportEmail[] = "support@pacterra.example";
inline constexpr char kSalesEmail[] = "sales@pacterra.example";
