#pragma once
// The store's engine handles for the other parts of this library (the project options, the
// suppression list, the run's attachment) and for the tests of this library. Nothing outside
// src/db includes it (tests/arch checks that).

#include "db/StoreEngine.h"

namespace pw::db {

struct StoreHandles {
    [[nodiscard]] static IBPP::Database Database(const TDbData& store) {
        return store.m_engine->Database();
    }
    [[nodiscard]] static IBPP::Transaction MainTransaction(const TDbData& store) {
        return store.m_engine->mainTr;
    }
};

}  // namespace pw::db
