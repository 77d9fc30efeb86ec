target_sources(SklibTs PRIVATE TableBudget.cpp)
