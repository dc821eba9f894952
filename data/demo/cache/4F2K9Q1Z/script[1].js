document.addEventListener('DOMContentLoaded', () => console.log('ready'));
