# cmake --install: the programs into bin/, and under share/platebench/ the
# models, word lists and sample sets in the repository's layout, so that the
# programs' built-in relative defaults work from that folder.
include(GNUInstallDirs)

set(PLATEBENCH_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/platebench)
# Packages are built by root and by CI users alike: permissions must not
# follow their umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(platebench_data_permissions OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(TARGETS ${platebench_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES models/rknn/plate_det.rknn models/rknn/plate_corner.rknn
              models/rknn/ppocrv6_det.rknn models/rknn/ppocrv6_rec.rknn
        DESTINATION ${PLATEBENCH_INSTALL_DATADIR}/models/rknn PERMISSIONS ${platebench_data_permissions})
install(FILES dict/region_words.txt dict/ppocrv6_rec_dict.txt
        DESTINATION ${PLATEBENCH_INSTALL_DATADIR}/dict PERMISSIONS ${platebench_data_permissions})
# The case lists name their pictures samples/<set>/images/..., from share/platebench.
install(DIRECTORY samples/real_lpr samples/scenes samples/hard
        DESTINATION ${PLATEBENCH_INSTALL_DATADIR}/samples
        FILE_PERMISSIONS ${platebench_data_permissions}
        DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

# Debian wants the licence terms in doc/<package>/copyright.
install(FILES docs/copyright README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        PERMISSIONS ${platebench_data_permissions})
install(FILES models/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME model_card.md
        PERMISSIONS ${platebench_data_permissions})
install(FILES samples/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME samples.md
        PERMISSIONS ${platebench_data_permissions})
