target_sources(kalvimorf_core PRIVATE
)
