skts_add_test(SklibTsPsiTests PsiSectionTests.cpp PsiTableTests.cpp PsiSiTableTests.cpp PsiDvbTextTests.cpp
              PsiRobustnessTests.cpp)
target_link_libraries(SklibTsPsiTests PRIVATE SklibTsPsi)
