target_sources(kalvimorf_core_jobs PRIVATE
  core/jobs/conversion_runner.cpp
  core/jobs/job_store.cpp
  core/jobs/limiter.cpp
  core/jobs/request.cpp
  core/jobs/job_boundary.cpp
  core/jobs/job_process.cpp
  core/jobs/worker.cpp
  core/jobs/worker_serve.cpp
  core/jobs/worker_pool.cpp
)
