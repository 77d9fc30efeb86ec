# docs
