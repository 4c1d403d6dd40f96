#include "download/category.h"

const Category kCategories[kCategoryCount] = {
    {"image", L"画像", 106}, {"music", L"サウンド", 108}, {"net", L"インターネット", 107},
    {"card", L"名刺", 109},  {"other", L"その他", 110},
};
